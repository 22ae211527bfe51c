#include <zelvo/types.h>

namespace Zelvo {

const char* to_str(TofErrorCode code) {
    switch (code) {
        case ZelvoSuccess: return "Success";
        case ZelvoInvalidParameter: return "Invalid parameter";
        case ZelvoNoCache: return "No cache";
        case ZelvoUnkownDevice: return "Unkown device";
        case ZelvoNotImplemented: return "Not implemented";
        case ZelvoSkipFrame: return "Skip frame";
        case ZelvoSystemError: return "System error";
        default: return "Unknown error";
    }
}

}  // namespace Zelvo
