// The socket layer: the loader state, the socket component, the mail
// client base and their exceptions.
#pragma once

#include "net/mail_base.h"
#include "net/net_errors.h"
#include "net/socket.h"
#include "net/socket_messages.h"
#include "net/winsock.h"
