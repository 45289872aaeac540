// The window's edge between code page 936 texts and the UTF-8 that GTK shows and edits.
#pragma once

#include <string>

#include "sync/text_value.h"

// Code page 936 bytes as UTF-8 for display. A byte that starts no valid character (a lone lead
// byte, an unassigned pair) shows as U+FFFD and the conversion goes on with the next byte.
std::string Utf8From936(const TextValue& text);

// UTF-8 from a GTK widget as code page 936 bytes. A character that 936 cannot hold becomes "?",
// as the platform's own conversion of an edit box's text does, so the loop still sees a text of
// the same shape.
TextValue TextFromUtf8(const std::string& text);
