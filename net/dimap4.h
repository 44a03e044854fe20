// The IMAP4 client unit: the client classes, their events and the response
// parsers they use.
#pragma once

#include "net/imap_client.h"
#include "net/imap_command_text.h"
#include "net/imap_flags.h"
#include "net/imap_response.h"
#include "net/imap_tokens.h"
