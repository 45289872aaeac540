// The date-time text of one pass: built from the six fields, read into a DateTimeValue, and the
// local clock set from it.
#pragma once

#include "sync/text_value.h"

// Joins year 年 month 月 day 日 hour 时 minute 分 second 秒 (code page 936); empty fields add nothing.
TextValue BuildDateTimeText(const TextValue& year, const TextValue& month, const TextValue& day,
                            const TextValue& hour, const TextValue& minute,
                            const TextValue& second);

// Folds the code page 936 full-width ASCII forms, the ideographic space, the full-width tilde and
// the two stars into single bytes; other characters are copied, a trailing lone lead byte dropped.
TextValue ToHalfWidth(const TextValue& text);

// The date-time the text names, or -657434.0 (1 January 100) when it cannot be read.
DateTimeValue ParseDateTimeText(const TextValue& text);

// Asks the platform to set the local clock to the value, to the nearest second; true when it did.
bool SetLocalClock(DateTimeValue value);
