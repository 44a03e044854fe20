// Long conversions let the pump run now and then so the window stays
// responsive, but not per byte: at most once every few milliseconds.
#pragma once

namespace quillon {

// Dispatches pending pump events when the last dispatch from here is older
// than a few milliseconds; otherwise returns at once.
void ProcessMessagesThrottled();

}  // namespace quillon
