// Which name service a transport kind resolves host names and discovers
// servers with.
#pragma once

#include <functional>

#include "api/session_ops.h"
#include "net/nbns_client.h"

// Empty for the host relay, whose host is given names as they are.
std::function<NameService()> vnb_name_service_for(const TransportChoice &kind);
