// Tarn's reported error codes: the number IDownloadError::GetErrorCode hands
// a client, with IDownloadError::GetErrorText giving the matching English
// text. A new download object reports TARN_ERROR_OK; every failure replaces
// the code, and a later success leaves it in place, so read it after a call
// that did not return S_OK. No call reports 15.
//
// Plain declarations without any runtime dependency; interfaces.h includes
// this header, and a client may include it alone.
#ifndef TARNHOLM_TARN_ERRORS_H
#define TARNHOLM_TARN_ERRORS_H

enum TarnErrorCode {
  TARN_ERROR_OK = 1,                   // "OK": nothing has failed yet
  TARN_ERROR_UNHANDLED_EXCEPTION = 2,  // an unexpected failure inside the call
  TARN_ERROR_UNHANDLED_TIMEOUT = 3,    // the operation's deadline passed
  TARN_ERROR_CANT_OPEN_PORT = 4,
  TARN_ERROR_INTERNAL = 5,  // not reported by this library
  TARN_ERROR_SYSTEM = 6,    // not reported by this library
  TARN_ERROR_CANT_CLOSE_PORT = 7,
  TARN_ERROR_CANT_INITIALIZE = 8,  // the object could not create its serial channel
  TARN_ERROR_COM_PORT = 9,         // a byte was not sent or not received; bad settings string
  TARN_ERROR_UNSUPPORTED_PAGER = 10,
  TARN_ERROR_NO_ANSWER = 11,
  TARN_ERROR_PAGER_DISABLED = 12,     // also: the command header could not be sent
  TARN_ERROR_WRONG_PASSWORD = 13,     // the pager refused the download password
  TARN_ERROR_PASSWORD_REQUIRED = 14,  // not reported by this library
  TARN_ERROR_SENDING_DATA = 16,       // an acknowledgement was missing or wrong
};

#endif  // TARNHOLM_TARN_ERRORS_H
