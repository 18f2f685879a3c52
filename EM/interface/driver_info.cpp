// GetDriverInfo (command 14): the driver's self-description, and command 10.
#include "interface/handlers.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::size_t kBannerLength = 337;

// Code page 437 box-drawing and shade characters of the banner frame.
constexpr char kTopLeft = '\xDA';
constexpr char kTopRight = '\xBF';
constexpr char kBottomLeft = '\xC0';
constexpr char kBottomRight = '\xD9';
constexpr char kHorizontal = '\xC4';
constexpr char kVertical = '\xB3';
constexpr char kFullBlock = '\xDB';
constexpr char kDarkShade = '\xB2';
constexpr char kMediumShade = '\xB1';
constexpr char kLightShade = '\xB0';

constexpr std::size_t kFrameWidth = 60;
constexpr char kMakerLine[] = "  Made by the EM-1 driver team for Linux and Windows hosts  ";
static_assert(sizeof(kMakerLine) - 1 == kFrameWidth, "the maker line fills the frame");

struct BannerText {
    std::array<char, kBannerLength + 1> text{};
    std::size_t length = 0;

    constexpr void Put(char c, std::size_t count = 1) {
        for (std::size_t i = 0; i < count; ++i) {
            text[length++] = c;
        }
    }
    constexpr void Put(const char *s) {
        while (*s != '\0') {
            Put(*s++);
        }
    }
    constexpr void Shades(bool outward) {
        const char order[] = {kFullBlock, kDarkShade, kMediumShade, kLightShade};
        const std::size_t widths[] = {5, 6, 6, 5};
        for (int i = 0; i < 4; ++i) {
            const int k = outward ? 3 - i : i;
            Put(order[k], widths[k]);
        }
    }
};

constexpr BannerText BuildBanner() {
    BannerText b;
    b.Put('\n');
    b.Put(kTopLeft);
    b.Put(kHorizontal, kFrameWidth);
    b.Put(kTopRight);
    b.Put('\n');
    b.Put(kVertical);
    b.Put(' ');
    b.Shades(false);
    b.Put(" Z E L E M   ");
    b.Shades(true);
    b.Put("  ");
    b.Put(kVertical);
    b.Put('\n');
    b.Put(kVertical);
    b.Put(' ', 15);
    b.Put("EM-1 Driver. for  Eurotherm Version 10.D");
    b.Put(' ', 5);
    b.Put(kVertical);
    b.Put('\n');
    b.Put(kVertical);
    b.Put('\t', 15);
    b.Put(' ', 3);
    b.Put(kVertical);
    b.Put('\n');
    b.Put(kVertical);
    b.Put(kMakerLine);
    b.Put(kVertical);
    b.Put('\n');
    b.Put(kBottomLeft);
    b.Put(kHorizontal, kFrameWidth);
    b.Put(kBottomRight);
    b.Put('\n');
    return b;
}

constexpr BannerText kBanner = BuildBanner();
static_assert(kBanner.length == kBannerLength, "the banner is 337 bytes before its NUL");

constexpr char kDriverName[] = "Eurotherm EM-1";

// The size of the state record a host must give each instance. A 32-bit host is told the
// 37 bytes the driver uses; on a 64-bit build the record is larger (8-byte handle, padding),
// so the whole record's size is reported and a host that sizes it from here is safe.
constexpr std::int32_t kStateSize =
    sizeof(void *) == 4 ? 37 : static_cast<std::int32_t>(sizeof(DriverState));
static_assert(sizeof(void *) != 4 || offsetof(DriverState, adapterReady) + 1 == 37,
              "the driver uses 37 bytes of the 32-bit record");

} // namespace

std::int32_t GetDriverInfo(const DriverCall &call) {
    auto *info = static_cast<DriverInfo *>(call.parameters);
    if (info == nullptr) {
        return EM_REFUSED;
    }
    info->infoKind = 70;
    info->name = kDriverName;
    info->banner = kBanner.text.data();
    info->stateSize = kStateSize;
    info->infoRevision = 4;
    info->defaults = LineSettings{9600, 8, 0, 0};
    info->protocolKind = 3;
    return EM_OK;
}

std::int32_t AnswerOne(const DriverCall & /*call*/) {
    return EM_REFUSED;
}
