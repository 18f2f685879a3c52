// info: the driver's self-description in words.
#include "banner.h"
#include "commands.h"
#include "line_text.h"
#include "platform.h"

#include <cstdio>

ExitStatus RunInfo(Context &context) {
    const DriverInfo info = context.driver.Info();
    const LineSettings &line = info.defaults;
    std::printf("Driver library   %s\n", context.driver.Path().c_str());
    std::printf("Name             %s\n", info.name != nullptr ? info.name : "(none)");
    std::printf("Default line     %s (%s)\n", LineInWords(line).c_str(), LineInShort(line).c_str());
    std::printf("Record kind      %d (the self-description record)\n", info.infoKind);
    std::printf("State size       %d (bytes of the host's DriverState the driver uses)\n",
                info.stateSize);
    std::printf("Record revision  %d\n", info.infoRevision);
    std::printf("Protocol kind    %d (ASCII requests and replies on a serial line)\n",
                info.protocolKind);
    if (info.banner != nullptr) {
        PrepareConsole();
        std::printf("Banner:%s\n", BannerForTerminal(info.banner).c_str());
    }
    return ExitStatus::kOk;
}
