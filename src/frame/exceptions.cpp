#include "frame/exceptions.h"

#include "frame/callbacks.h"
#include "frame/error.h"

namespace ludrex {

void fException::report() const { ::Error(static_cast<unsigned short>(code()), nullptr, 1); }

void fException::show() const { MessageDialog(MessageTextPtr(code()), 1, kDialogNotice); }

}  // namespace ludrex
