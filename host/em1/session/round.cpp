#include "round.h"

std::optional<FailureKind> FirstProblem(const Round &round) {
    for (const auto &result : round.results) {
        if (result.problem) {
            return result.problem->kind;
        }
    }
    return std::nullopt;
}
