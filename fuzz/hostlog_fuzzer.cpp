// The host log formatter on formats made from the input, with arguments of exactly the
// types the conversions name.
//
// The input is read as a list of pieces: a byte below 0x40 starts plain text (up to 16
// bytes), any other starts a conversion made of flags, a width and a precision (none,
// written, or '*'), a length modifier and a letter, each chosen by a byte, valid or not,
// followed by the values of its arguments.
//
// The arguments are laid out as the x86-64 System V calling convention passes variadic
// arguments on the stack, in a heap block of exactly their size, and reached through a
// va_list that points at them: a read past the last argument is a heap overflow that
// AddressSanitizer reports. A conversion the formatter refuses gets no arguments, and nor
// does any conversion after it.
//
// Each accepted conversion must format as the C library formats the same conversion with
// the same arguments (%C as %c); everything from the first refused conversion on must
// appear as written. The text must come out the same whatever the size of the output
// buffer, cut and terminated when it does not fit.
#include "checks.h"
#include "fuzz_input.h"

#include "hostlog.h"

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#if !defined(__x86_64__) || !defined(__linux__)
#error "the argument layout below is the x86-64 System V one"
#endif

namespace {

constexpr std::size_t kMaxField = 512;

// The x86-64 System V va_list: with both register areas marked as used up, every argument
// is read from the overflow area, in 8-byte slots (16-byte aligned ones for long double).
constexpr unsigned kGeneralRegistersUsed = 48;
constexpr unsigned kVectorRegistersUsed = 176;

enum class Type { kInt, kLong, kLongLong, kDouble, kLongDouble, kText, kPointer };

struct Argument {
    Type type;
    std::int64_t integer = 0;
    double floating = 0;
    std::size_t text = 0; // index into the texts
};

// The arguments of one call, laid out in memory as a caller passes them.
class ArgumentArea {
  public:
    ArgumentArea(const std::vector<Argument> &arguments, const std::vector<std::string> &texts)
        : texts_(texts.size()) {
        for (std::size_t i = 0; i < texts.size(); ++i) {
            texts_[i] = std::make_unique<ExactBytes>(texts[i]);
        }
        std::size_t size = 0;
        for (const Argument &argument : arguments) {
            offsets_.push_back(size = Aligned(size, argument.type));
            size += argument.type == Type::kLongDouble ? 16 : 8;
        }
        size_ = size;
        block_ = static_cast<unsigned char *>(::operator new (size_, std::align_val_t{16}));
        std::memset(block_, 0, size_);
        for (std::size_t i = 0; i < arguments.size(); ++i) {
            Place(arguments[i], block_ + offsets_[i]);
        }
    }
    ~ArgumentArea() { ::operator delete (block_, std::align_val_t{16}); }
    ArgumentArea(const ArgumentArea &) = delete;
    ArgumentArea &operator=(const ArgumentArea &) = delete;

    // A va_list whose next argument is number first.
    void Start(va_list args, std::size_t first) const {
        args[0].gp_offset = kGeneralRegistersUsed;
        args[0].fp_offset = kVectorRegistersUsed;
        args[0].overflow_arg_area = block_ + (first < offsets_.size() ? offsets_[first] : size_);
        args[0].reg_save_area = nullptr;
    }

  private:
    static std::size_t Aligned(std::size_t offset, Type type) {
        const std::size_t alignment = type == Type::kLongDouble ? 16 : 8;
        return (offset + alignment - 1) / alignment * alignment;
    }
    void Place(const Argument &argument, unsigned char *slot) const {
        switch (argument.type) {
        case Type::kInt: {
            const auto value = static_cast<int>(argument.integer);
            std::memcpy(slot, &value, sizeof value);
            break;
        }
        case Type::kLong:
        case Type::kLongLong:
            std::memcpy(slot, &argument.integer, sizeof argument.integer);
            break;
        case Type::kDouble:
            std::memcpy(slot, &argument.floating, sizeof argument.floating);
            break;
        case Type::kLongDouble: {
            const long double value = argument.floating;
            std::memcpy(slot, &value, sizeof value);
            break;
        }
        case Type::kText: {
            const char *text = texts_[argument.text]->Data();
            std::memcpy(slot, &text, sizeof text);
            break;
        }
        case Type::kPointer: {
            const auto address = static_cast<std::uintptr_t>(argument.integer);
            std::memcpy(slot, &address, sizeof address);
            break;
        }
        }
    }

    std::vector<std::unique_ptr<ExactBytes>> texts_;
    std::vector<std::size_t> offsets_;
    std::size_t size_ = 0;
    unsigned char *block_ = nullptr;
};

// One piece of the format: plain text, or a conversion with the index of its first
// argument and the same conversion for the C library.
struct Piece {
    std::string text;
    bool conversion = false;
    bool accepted = false;
    std::size_t firstArgument = 0;
    std::string reference;
};

constexpr std::array<std::string_view, 12> kModifiers = {"",  "hh", "h", "l", "ll", "j",
                                                         "z", "t",  "L", "q", "I",  "w"};
// Valid letters, and others that are no length modifier, so that a conversion never takes
// in the text after it.
constexpr std::string_view kLetters = "diouxXfFeEgGaAcCspn%bkmqZ$'";
constexpr std::string_view kFlags = "-+ #0";

bool Has(std::string_view set, char c) {
    return set.find(c) != std::string_view::npos;
}

// The type a conversion reads, as the C library defines it; false when the formatter
// refuses the conversion: an unknown letter, or a modifier its letter does not take.
bool ArgumentType(std::string_view modifier, char letter, Type &type) {
    if (Has("cCsp", letter)) {
        type = letter == 's' ? Type::kText : letter == 'p' ? Type::kPointer : Type::kInt;
        return modifier.empty();
    }
    if (Has("fFeEgGaA", letter)) {
        type = modifier == "L" ? Type::kLongDouble : Type::kDouble;
        return modifier.empty() || modifier == "l" || modifier == "L";
    }
    if (!Has("diouxX", letter)) {
        return false;
    }
    type = modifier == "ll" ? Type::kLongLong : Type::kInt;
    if (modifier == "l" || modifier == "j" || modifier == "z" || modifier == "t") {
        type = Type::kLong;
    }
    return modifier.empty() || modifier == "hh" || modifier == "h" || modifier == "ll" ||
           type == Type::kLong;
}

class FormatBuilder {
  public:
    explicit FormatBuilder(FuzzInput &input) : input_(input) {}

    void Build() {
        while (input_.Left() > 0) {
            const std::uint8_t kind = input_.Byte();
            if (kind < 0x40) {
                AddText(kind % 16 + 1);
            } else {
                AddConversion();
            }
        }
    }
    const std::vector<Piece> &Pieces() const { return pieces_; }
    const std::vector<Argument> &Arguments() const { return arguments_; }
    const std::vector<std::string> &Texts() const { return texts_; }
    std::string Format() const {
        std::string format;
        for (const Piece &piece : pieces_) {
            format += piece.text;
        }
        return format;
    }

  private:
    // Text without NUL; a '%' goes in doubled, as "%%".
    void AddText(std::size_t length) {
        Piece piece;
        for (const char c : input_.Bytes(length)) {
            if (c == '%') {
                piece.text += "%%";
            } else if (c != '\0') {
                piece.text += c;
            }
        }
        pieces_.push_back(piece);
    }

    // A written width or precision: mostly small, sometimes at or beyond the limit.
    std::size_t WrittenNumber() {
        const std::uint8_t byte = input_.Byte();
        constexpr std::array<std::size_t, 4> kLarge = {kMaxField, kMaxField + 1, 2147483647,
                                                       99999999999};
        return byte < 0xF0 ? byte % 64 : kLarge[byte % kLarge.size()];
    }

    // A width or precision as written: none, digits or '*' with its int argument.
    struct Field {
        enum { None, Written, Star } kind = None;
        std::size_t number = 0;
        std::int32_t argument = 0;
    };
    Field ReadField() {
        Field field;
        switch (input_.Byte() % 3) {
        case 1:
            field.kind = Field::Written;
            field.number = WrittenNumber();
            break;
        case 2:
            field.kind = Field::Star;
            field.argument = input_.Raw<std::int32_t>();
            break;
        default:
            break;
        }
        return field;
    }
    // The field as written; for the C library a number beyond an int is the largest int,
    // as the formatter reads it.
    static std::string Written(const Field &field, bool reference = false) {
        constexpr std::size_t kLargestInt = 2147483647;
        const std::size_t number = reference ? std::min(field.number, kLargestInt) : field.number;
        return field.kind == Field::Written ? std::to_string(number)
               : field.kind == Field::Star  ? "*"
                                            : "";
    }

    Argument ValueOf(Type type) {
        Argument argument{type};
        if (type == Type::kDouble || type == Type::kLongDouble) {
            argument.floating = input_.Raw<double>();
        } else if (type == Type::kText) {
            argument.text = texts_.size();
            const std::string text = input_.Bytes(input_.Byte() % 32);
            texts_.push_back(text.c_str());
        } else {
            argument.integer = input_.Raw<std::int64_t>();
        }
        return argument;
    }

    // The formatter refuses, before reading any argument, an unknown letter, a modifier its
    // letter does not take, a written width above 512 and a written precision above 512
    // (text takes any). It reads a '*' and then refuses a width outside -512..512 and a
    // precision above 512 (text again takes any).
    void AddConversion() {
        std::string flags = "%";
        const std::uint8_t chosen = input_.Byte();
        for (std::size_t i = 0; i < kFlags.size(); ++i) {
            if ((chosen & (1U << i)) != 0) {
                flags += kFlags[i];
            }
        }
        const Field width = ReadField();
        const Field precision = ReadField();
        const std::string_view modifier = kModifiers[input_.Byte() % kModifiers.size()];
        const char letter = kLetters[input_.Byte() % kLetters.size()];
        const std::string point = precision.kind != Field::None ? "." : "";
        const std::string text =
            flags + Written(width) + point + Written(precision) + std::string(modifier) + letter;
        if (text == "%%") {
            pieces_.push_back(Piece{text, false, false, 0, {}});
            return;
        }
        Piece piece{text, true, false, arguments_.size(),
                    flags + Written(width, true) + point + Written(precision, true) +
                        std::string(modifier) + (letter == 'C' ? 'c' : letter)};
        Type type = Type::kInt;
        const bool anyPrecision = letter == 's';
        bool accepted =
            !refused_ && ArgumentType(modifier, letter, type) &&
            (width.kind != Field::Written || width.number <= kMaxField) &&
            (precision.kind != Field::Written || precision.number <= kMaxField || anyPrecision);
        if (accepted && width.kind == Field::Star) {
            arguments_.push_back(Argument{Type::kInt, width.argument});
            accepted = width.argument >= -static_cast<std::int32_t>(kMaxField) &&
                       width.argument <= static_cast<std::int32_t>(kMaxField);
        }
        if (accepted && precision.kind == Field::Star) {
            arguments_.push_back(Argument{Type::kInt, precision.argument});
            accepted = anyPrecision || precision.argument <= static_cast<std::int32_t>(kMaxField);
        }
        if (accepted) {
            arguments_.push_back(ValueOf(type));
        }
        piece.accepted = accepted;
        refused_ = refused_ || !accepted;
        pieces_.push_back(piece);
    }

    FuzzInput &input_;
    std::vector<Piece> pieces_;
    std::vector<Argument> arguments_;
    std::vector<std::string> texts_;
    bool refused_ = false;
};

// The formatter's text in an output buffer of exactly size bytes; Require()s that it
// reports the whole length and ends the text in the buffer with a NUL.
std::string Formatted(const char *format, const ArgumentArea &area, std::size_t size,
                      std::size_t whole) {
    std::vector<char> out(size);
    va_list args;
    area.Start(args, 0);
    const std::size_t length =
        hostlog_vformat(size == 0 ? nullptr : out.data(), size, format, args);
    Require(length == whole, "the same length whatever the buffer");
    if (size == 0) {
        return {};
    }
    const std::size_t kept = std::min(length, size - 1);
    Require(out[kept] == '\0', "the text in the buffer ends in a NUL");
    return std::string(out.data(), kept);
}

// What the C library makes of one accepted conversion.
std::string Reference(const Piece &piece, const ArgumentArea &area) {
    va_list args;
    area.Start(args, piece.firstArgument);
    char out[8192];
    // NOLINTNEXTLINE(clang-analyzer-valist.Uninitialized): Start() sets up the va_list
    const int length = std::vsnprintf(out, sizeof out, piece.reference.c_str(), args);
    Require(length >= 0 && static_cast<std::size_t>(length) < sizeof out, "reference fits");
    return std::string(out, static_cast<std::size_t>(length));
}

std::string WithoutPercent(std::string_view text) {
    std::string kept;
    std::copy_if(text.begin(), text.end(), std::back_inserter(kept),
                 [](char c) { return c != '%'; });
    return kept;
}

// Plain text with each "%%" as "%".
std::string Unescaped(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        plain += text[i];
        i += text[i] == '%' ? 1 : 0;
    }
    return plain;
}

// Plain text keeps its bytes ("%%" gives "%"), accepted conversions format as the C
// library does; from the first refused conversion on the format appears as written, but
// for the '%' that "%%" loses.
void CheckText(const std::vector<Piece> &pieces, const ArgumentArea &area, const std::string &out) {
    std::string expected;
    std::string rest;
    bool refused = false;
    for (const Piece &piece : pieces) {
        refused = refused || (piece.conversion && !piece.accepted);
        if (refused) {
            rest += piece.text;
        } else if (piece.conversion) {
            expected += Reference(piece, area);
        } else {
            expected += Unescaped(piece.text);
        }
    }
    Require(out.compare(0, expected.size(), expected) == 0,
            "accepted conversions format as the C library does");
    Require(WithoutPercent(out.substr(std::min(expected.size(), out.size()))) ==
                WithoutPercent(rest),
            "a refused conversion and the rest appear as written");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    FuzzInput input(data, size);
    const std::uint8_t cut = input.Byte();
    FormatBuilder builder(input);
    builder.Build();
    const ArgumentArea area(builder.Arguments(), builder.Texts());
    ExactBytes format(builder.Format());

    va_list args;
    area.Start(args, 0);
    const std::size_t length = hostlog_vformat(nullptr, 0, format.Data(), args);
    const std::string whole = Formatted(format.Data(), area, length + 1, length);
    Require(whole.size() == length, "the whole text fits a buffer of its length and NUL");
    CheckText(builder.Pieces(), area, whole);

    const std::size_t shorter = cut % (length + 1);
    const std::string part = Formatted(format.Data(), area, shorter, length);
    Require(whole.compare(0, part.size(), part) == 0, "a short buffer holds the start of the text");
    return 0;
}
