#pragma once
// Resource ids of the program (also read by the resource script, so: plain #defines only).

#define LK_ICON_APP 1
#define LK_ICON_INFORMATION 101
#define LK_ICON_WARNING 102
#define LK_ICON_CRITICAL 103
#define LK_ICON_STAR 104
#define LK_ICON_ENVELOPE 105
#define LK_ICON_QUESTION 106

#define LK_PNG_WORDMARK_1X 201
#define LK_PNG_WORDMARK_2X 202
#define LK_PNG_BITBADGE_1X 203
#define LK_PNG_BITBADGE_2X 204
#define LK_PNG_CANCEL_1X 205
#define LK_PNG_CANCEL_2X 206
#define LK_PNG_DEVELOPER_1X 207
#define LK_PNG_DEVELOPER_2X 208
