// Decoding and encoding of messages, and the transfer encodings.
#pragma once

#include "mail/base64.h"
#include "mail/decoder.h"
#include "mail/encoder.h"
#include "mail/header_words.h"
#include "mail/line_stream.h"
#include "mail/quoted_printable.h"
#include "mail/uuencode.h"
