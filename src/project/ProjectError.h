// The failure raised when a show project cannot be turned into a playable show (a timeline that
// goes backwards, an impossible slide count). The show is not opened; the message is shown as is.
#pragma once

#include "base/Exception.h"

namespace kiv {

class EProjectError : public Exception {
public:
    using Exception::Exception;
};

} // namespace kiv
