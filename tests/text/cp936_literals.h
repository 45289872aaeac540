// Code page 936 byte pairs used by the text tests, as string-literal pieces that join with others.
#pragma once

#define NIAN "\xC4\xEA"  // 年
#define YUE "\xD4\xC2"   // 月
#define RI "\xC8\xD5"    // 日
#define SHI "\xCA\xB1"   // 时
#define FEN "\xB7\xD6"   // 分
#define MIAO "\xC3\xEB"  // 秒

#define QUOTE_TOKEN "\x23\xD2\xFD\xBA\xC5"  // #引号
