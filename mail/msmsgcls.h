// Addresses, attachments and header lists of a message, and the header
// value functions.
#pragma once

#include "mail/attachment.h"
#include "mail/header_values.h"
#include "mail/headers.h"
#include "mail/mail_address.h"
