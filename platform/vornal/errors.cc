// Texts for connection states and vornal_connect error codes.
#include "export.h"

extern "C" const char *vornal_conn_error(int code) {
  switch (code) {
    case VORNAL_STATE_NOT_CONNECTED:
      return "Not connected";
    case VORNAL_STATE_ENDED:
      return "Session ended: another user logged in";
    case VORNAL_STATE_LOST:
      return "Connection timed out or the daemon has gone";
    case VORNAL_STATE_CONNECTED:
      return "Connected";
    case VORNAL_STATE_HUNG:
      return "Connection hung: the daemon does not answer";
    case VORNAL_ERR_UNAVAILABLE:
      return "Daemon not running or connection refused";
    case VORNAL_ERR_NOHOST:
      return "Unknown host";
    case VORNAL_ERR_NOPERM:
      return "Permission denied";
    case VORNAL_ERR_PROTOCOL:
      return "Protocol mismatch";
    case VORNAL_ERR_TIMEOUT:
      return "Timed out";
    case VORNAL_ERR_OSERR:
      return "System error";
    case VORNAL_ERR_TLS:
      return "TLS: handshake failed";
    case VORNAL_ERR_TLS_UNTRUSTED:
      return "TLS: server certificate not trusted";
    case VORNAL_ERR_TLS_EXPIRED:
      return "TLS: server certificate expired or not yet valid";
    case VORNAL_ERR_TLS_NAME:
      return "TLS: server certificate is for another host name";
    case VORNAL_ERR_TLS_PIN:
      return "TLS: server certificate is not the pinned one";
    case VORNAL_ERR_TLS_SETUP:
      return "TLS: VORNAL_CA_FILE or VORNAL_SERVER_SHA256 cannot be used";
    default:
      return "Unknown error";
  }
}
