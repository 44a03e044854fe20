// The POP3 client components.
#pragma once

#include "net/pop3_client.h"
#include "net/remote_info.h"
