// The SMTP client component.
#pragma once

#include "net/smtp_client.h"
