// The message classes (TmsCustomMessage, TmsMessage, TmsArticle).
#pragma once

#include "mail/mail_errors.h"
#include "mail/message.h"
