// gateway where em1 is built without it: the MQTT gateway is a feature of the Linux em1.
#include "commands.h"

ExitStatus RunGateway(Context &) {
    throw UsageError("gateway: the MQTT gateway is a feature of the Linux em1; this em1 is "
                     "built without it");
}
