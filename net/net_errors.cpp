#include "net/net_errors.h"

namespace quillon {

ETimedOutError::ETimedOutError() : std::runtime_error("Operation timed out") {}

ECanceledError::ECanceledError()
    : std::runtime_error("Operation has been canceled") {}

}  // namespace quillon
