#ifndef CORSIVET_COMMON_APP_DATA_H
#define CORSIVET_COMMON_APP_DATA_H

// Longest folder path the platform query hands over, in characters, not
// counting the terminating zero.
const int maxCommonAppDataLength = 1023;

// The folder arrives as UTF-8, which needs at most three bytes for each
// UTF-16 code unit of a Windows path, plus the terminating zero.
const int commonAppDataBufferSize = (3 * maxCommonAppDataLength) + 1;

// Writes the machine-wide application-data folder into `folder` as
// zero-terminated UTF-8 text. When the folder cannot be determined it leaves
// the buffer as it was, so a zero-filled buffer stays empty text.
void queryCommonAppDataFolder(char (&folder)[commonAppDataBufferSize]);

#endif
