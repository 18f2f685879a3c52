// write: one value to one item.
#include "commands.h"
#include "item_reads.h"
#include "write_value.h"

#include <cstdio>

namespace {

[[noreturn]] void ThrowWriteFailure(const Item &item, const WriteValue &value,
                                    std::int32_t result) {
    const std::string what = item.address + " = " + value.text + ": ";
    const std::string code = " (SingleWrite result " + std::to_string(result);
    if (result == 1) {
        throw Failure(ExitStatus::Refused,
                      what + "the instrument refused the value" + code +
                          ": a \"?\" reply or no acknowledgement; -vv shows the reply)");
    }
    if (result == 2) {
        throw Failure(ExitStatus::NoAnswer, what + "no answer from the instrument" + code + ")");
    }
    throw Failure(ExitStatus::NoAnswer,
                  what + "the confirmation the instrument asked for failed" + code + ")");
}

} // namespace

ExitStatus RunWrite(Context &context) {
    Instance instance(context.driver);
    const auto items =
        DefineItems(context.driver, instance.State(), {context.line.operands[0]}, "write");
    const Item &item = items.front();
    WriteValue value = PrepareWrite(item, context.line.operands[1]);
    StartInstance(instance, StartOptionsOf(context));
    ItemRequest request = item.SingleRequest(value.cell.data());
    const std::int32_t result = instance.Call(EM_CMD_SINGLE_WRITE, &request);
    if (result != 0) {
        ThrowWriteFailure(item, value, result);
    }
    std::printf("%s = %s written\n", item.address.c_str(), value.text.c_str());
    return ExitStatus::Ok;
}
