/* libvornal2: the client library of the vornd configuration daemon.
 * One connection per process. See docs/protocol.md for the wire format. */
#ifndef VORNAL_H
#define VORNAL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Connection states returned by vornal_get_connection_state. */
#define VORNAL_STATE_NOT_CONNECTED 0
#define VORNAL_STATE_ENDED 3     /* another user forced a login */
#define VORNAL_STATE_LOST 4      /* timed out or the daemon is gone */
#define VORNAL_STATE_CONNECTED 5 /* usable */
#define VORNAL_STATE_HUNG 7 /* a keep-alive reply is overdue; still usable */

/* Error codes of vornal_connect (sysexits values). */
#define VORNAL_ERR_UNAVAILABLE 69 /* daemon not running or refused */
#define VORNAL_ERR_NOHOST 68      /* unknown host */
#define VORNAL_ERR_NOPERM 77      /* permission denied */
#define VORNAL_ERR_PROTOCOL 76    /* protocol mismatch */
#define VORNAL_ERR_TIMEOUT 75     /* timed out */
#define VORNAL_ERR_OSERR 71       /* any other system error */
/* TLS over TCP (docs/protocol.md): */
#define VORNAL_ERR_TLS 80           /* handshake failed: not TLS 1.3 */
#define VORNAL_ERR_TLS_UNTRUSTED 81 /* certificate not from a trusted CA */
#define VORNAL_ERR_TLS_EXPIRED 82   /* certificate expired or not yet valid */
#define VORNAL_ERR_TLS_NAME 83      /* certificate for another host name */
#define VORNAL_ERR_TLS_PIN 84       /* not the VORNAL_SERVER_SHA256 one */
#define VORNAL_ERR_TLS_SETUP 85     /* VORNAL_CA_FILE or ..._SHA256 unusable */

/* Default TCP port when the server text names only a host. */
#define VORNAL_DEFAULT_PORT 7077

/* Request types. */
#define VORNAL_MSG_NOOP 0
#define VORNAL_MSG_CREATE 10
#define VORNAL_MSG_SET 11
#define VORNAL_MSG_DELETE 12
#define VORNAL_MSG_COMMIT 13
#define VORNAL_MSG_RENAME 14
#define VORNAL_MSG_GET 15
#define VORNAL_MSG_LIST 17
#define VORNAL_MSG_DESCRIBE 18
#define VORNAL_MSG_HELP 19
#define VORNAL_MSG_LOGIN 20
#define VORNAL_MSG_REVERT 22
#define VORNAL_MSG_LOGOUT 23
#define VORNAL_MSG_BATCH_OPEN 50
#define VORNAL_MSG_BATCH_CLOSE 51

typedef struct vornal_message vornal_message;

/* Connects to a Unix socket path (text beginning with "/") or to host[:port]
 * over TCP with TLS, verified against VORNAL_SERVER_SHA256 (a pinned
 * certificate), else VORNAL_CA_FILE, else the system's trust store; plain
 * TCP only with VORNAL_PLAIN_TCP=1 to a loopback address. Returns 5 when
 * connected, else one of the error codes above. */
int vornal_connect(const char *server);

/* Returns a static text for a state or error code; never released. */
const char *vornal_conn_error(int code);

/* Returns the connection state (0, 3, 4, 5 or 7). */
int vornal_get_connection_state(void);

/* seconds > 0 starts a no-op every that many seconds; (0, 0) stops and joins
 * the keep-alive thread. */
void vornal_set_keep_alive(int seconds, int flags);

/* With on != 0 each request and reply (not the no-ops) is traced to stderr. */
void vornal_set_connection_debugging(int on);

/* Sends one request and waits (bounded) for its reply. Returns a handle that
 * the caller releases with vornal_message_free, or NULL when no reply came. */
vornal_message *vornal_send_message(int type, const char *a1, const char *a2,
                                    const char *a3, const char *a4,
                                    const char *a5);

/* Returns a malloc'd copy of the reply text, or NULL; the caller frees it. */
char *vornal_get_message_reply(vornal_message *m);

/* Returns a malloc'd copy of the status text, or NULL; the caller frees it. */
char *vornal_get_message_response_status(vornal_message *m);

/* Releases a handle; NULL is ignored. */
void vornal_message_free(vornal_message *m);

/* Closes the connection (stopping the keep-alive); the state becomes 0. */
void vornal_disconnect(void);

/* A function the library calls on the caller's thread while that thread
 * waits for the daemon (connecting or awaiting a reply): after a signal
 * interrupts the wait, and at least every 100 ms. It lets a program whose
 * signal handlers only record a signal act on it during a long wait. The
 * hook may return, and the wait goes on where it was, or end the process.
 * A request sent from inside the hook is written but not awaited: it yields
 * NULL. The keep-alive thread never calls it and never takes signals. */
typedef void (*vornal_wait_hook)(void);

/* Installs hook for every later wait; NULL removes it. */
void vornal_set_wait_hook(vornal_wait_hook hook);

#ifdef __cplusplus
}
#endif

#endif
