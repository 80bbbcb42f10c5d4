#include "transport/SocketErrors.h"

#include "transport/SocketStack.h"

namespace scoutor {

EIdSocketError::EIdSocketError(int code)
    : EIdException(TSocketStack::TranslateError(code)), Code(code) {}

}  // namespace scoutor
