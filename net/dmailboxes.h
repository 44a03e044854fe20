// The IMAP mailbox model unit: message lists, mailboxes and their list.
#pragma once

#include "net/imap_flags.h"
#include "net/mailboxes.h"
