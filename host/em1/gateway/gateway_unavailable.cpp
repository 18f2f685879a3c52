// gateway on a platform without it: the MQTT gateway is a Linux feature.
#include "commands.h"

ExitStatus RunGateway(Context &) {
    throw UsageError("gateway: the MQTT gateway is a Linux feature; this em1 is built for "
                     "Windows");
}
