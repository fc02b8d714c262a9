// Subscription and MonitoredItem service sets. Until they are served here, every
// such request is answered BadServiceUnsupported, which is what OPC 10000-4 asks of
// a server without them; clients then fall back to reading.
#include "opc/ua/UaServerCore.h"

namespace Ua {

void ServerCore::subscriptionService(RequestContext &, Decoder &, Encoder &)
{
    throw ServiceError{Status::BadServiceUnsupported};
}

} // namespace Ua
