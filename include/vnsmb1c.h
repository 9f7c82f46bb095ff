/*
 * vnsmb1c - SMB1/CIFS client library (read-only browse and stream).
 *
 * The exported C interface. Every function returns a ResultCode (0 success,
 * negative on failure) unless its comment says otherwise; after a failure
 * vnsmb1c_last_error() describes what went wrong.
 *
 * Sessions. A session is one logged-on connection to one server with its
 * open files and its last listing. The functions named vnsmb1c_<call> work
 * on the default session, which always exists; each has a session-taking
 * form vnsmb1c_s_<call>(vnsmb1c_session *session, ...) with the same
 * arguments after the session and the same results. A host makes further
 * sessions with vnsmb1c_session_new and ends them with vnsmb1c_session_free
 * (see "Sessions" below). The folder-access backend and each request-handler
 * call keep sessions of their own.
 *
 * Threads: every function may be called from any thread. Calls on one
 * session run one at a time (a second waits for the first); calls on
 * different sessions run side by side and never wait for each other's
 * network I/O. vnsmb1c_cancel/vnsmb1c_s_cancel may be called at any moment
 * from any thread. The error text (vnsmb1c_last_error) belongs to the
 * calling thread and describes that thread's last failure. Texts the library
 * hands out (vnsmb1c_session_json, vnsmb1c_item_json, vnsmb1c_share_name,
 * vnsmb1c_list_json and their vnsmb1c_s_ forms) are the calling thread's own
 * copies for that session: calls made on other threads never invalidate
 * them; a session's texts end when it is freed. The texts of the records
 * vnsmb1c_entry fills are not copies: they belong to the session's listing
 * (see there).
 *
 * Host callbacks (a HostIo's http_post, a Transport's functions) run inside
 * the call that needs them. They may call any function on other sessions,
 * the functions that take no session state (vnsmb1c_strerror,
 * vnsmb1c_last_error, vnsmb1c_url_parse, ...) and vnsmb1c_s_cancel; a call
 * back into the session whose call runs them fails with -6.
 */
#ifndef VNSMB1C_H
#define VNSMB1C_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(VNSMB1C_BUILDING)
#    define VNSMB1C_API __declspec(dllexport)
#  elif defined(VNSMB1C_STATIC)
#    define VNSMB1C_API
#  else
#    define VNSMB1C_API __declspec(dllimport)
#  endif
#else
#  define VNSMB1C_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ResultCode values. */
enum {
    VNSMB1C_OK = 0,
    VNSMB1C_ENET = -1,       /* network error */
    VNSMB1C_EPROTO = -2,     /* protocol error */
    VNSMB1C_EAUTH = -3,      /* authentication error */
    VNSMB1C_ENOTFOUND = -4,  /* not found */
    VNSMB1C_ENOSESSION = -5, /* no session */
    VNSMB1C_EINVAL = -6,     /* invalid argument */
    VNSMB1C_ELIMIT = -7,     /* limit exceeded */
    VNSMB1C_EUNSUPP = -8,    /* unsupported */
    VNSMB1C_ESMALL = -9,     /* buffer too small */
    VNSMB1C_EOF = -10,       /* end of file */
    VNSMB1C_ENOMEM = -11,    /* out of memory */
    VNSMB1C_ECANCELLED = -12 /* cancelled */
};

/* TransportMode values. */
enum {
    VNSMB1C_MODE_SOCKET = 0,
    VNSMB1C_MODE_HOSTIO = 1,
    VNSMB1C_MODE_FAKE = 2
};

/*
 * A transport carries one SMB1 message at a time to the server. Five
 * pointer-sized fields; all zero means "no transport".
 *   connect: 0 when connected, non-zero on failure.
 *   write:   0 when every byte was sent, -1 on failure.
 *   read:    bytes received (>= 1), 0 when the peer closed, -1 on error,
 *            -2 when nothing arrived within timeout_ms.
 *   close:   ends the connection and releases the context.
 */
typedef struct vnsmb1c_Transport {
    void *context;
    int (*connect)(void *context, const char *host, int port, int timeout_ms);
    int (*write)(void *context, const uint8_t *bytes, size_t length);
    int (*read)(void *context, uint8_t *buffer, size_t capacity, int timeout_ms);
    void (*close)(void *context);
} vnsmb1c_Transport;

/*
 * A host-supplied HTTP-post object that relays SMB1 messages (TransportMode 1).
 * The library only borrows it. Texts handed out through out_body and
 * out_error are released with `free` (or the C heap's free() when it is NULL).
 *   http_post: 0 when the exchange took place (out_status then says how it
 *              went), non-zero when the transport itself failed. Required.
 *   get:       never called by the library.
 */
typedef struct vnsmb1c_HostIo {
    void *context;
    int (*get)(void *context, const char *url, char **out_body, long *out_status, char **out_error);
    int (*http_post)(void *context, const char *url, const char *body, const char *content_type,
                     char **out_body, long *out_status, char **out_error);
    void (*free)(void *context, void *pointer);
} vnsmb1c_HostIo;

/* ---- Library state and result codes ---- */

/* "1.0.1"; needs no initialisation. */
VNSMB1C_API const char *vnsmb1c_version(void);
/* Text of a ResultCode; "unknown error" for values outside the table. */
VNSMB1C_API const char *vnsmb1c_strerror(int code);
/* Text of the calling thread's most recent failure; empty before the first one. Never NULL. */
VNSMB1C_API const char *vnsmb1c_last_error(void);
/* ResultCode derived from the last failure status a server sent. */
VNSMB1C_API int vnsmb1c_last_code(void);
/* Raw status (NT or DOS form) of the last failure a server sent. */
VNSMB1C_API uint32_t vnsmb1c_last_status(void);
/* Request frames handed to a transport since the library initialised. */
VNSMB1C_API uint64_t vnsmb1c_frame_count(void);
/* Short name of an SMB1 status value ("LOGON_FAILURE", "ERRbadfile", ...). */
VNSMB1C_API const char *vnsmb1c_status_name(uint32_t status);

/* ---- URL parsing ---- */

/*
 * Splits [smb:][//][domain;user:password@]host[:port][/path] or
 * [smb:][//][ipv6]:port[/path] without percent-decoding. Sizes count the
 * NUL. host is required; every other output may be NULL. *port is written
 * only when the URL carries a valid port (preset it); the path comes back
 * in canonical form. -6 for a malformed URL, -9 when a part does not fit.
 */
VNSMB1C_API int vnsmb1c_url_parse(const char *url, char *host, int32_t host_size, int32_t *port,
                                  char *user, int32_t user_size, char *password, int32_t password_size,
                                  char *domain, int32_t domain_size, char *path, int32_t path_size);

/* ---- Sessions ---- */

/* A session (opaque). */
typedef struct vnsmb1c_session vnsmb1c_session;

/*
 * A new session, not connected, with the default settings and the socket
 * transport; NULL when there is no memory. Connect it with vnsmb1c_s_connect
 * or vnsmb1c_s_connect_json. Two sessions may talk to two servers, or to one
 * server, from any threads at once.
 */
VNSMB1C_API vnsmb1c_session *vnsmb1c_session_new(void);
/*
 * Cancels a call still under way on the session, waits for it to return,
 * logs off and frees the session with its open files and texts. No call may
 * begin on it once this has begun. NULL and the default session are ignored.
 */
VNSMB1C_API void vnsmb1c_session_free(vnsmb1c_session *session);
/* The default session, for the vnsmb1c_s_ forms; never NULL, never freed. */
VNSMB1C_API vnsmb1c_session *vnsmb1c_default_session(void);
/*
 * Makes every call on the session that has begun by now (the one under way
 * and those waiting for it) return promptly with -12 "cancelled"; calls that
 * begin later are not affected, and with no call under way it does nothing.
 * Safe from any thread, a signal handler excepted. A call cancelled while it
 * waited for the server drops the connection, so that no late reply can
 * reach a later call; the session stays usable, and its next call connects
 * again with the stored settings and reopens its open files. A wait inside a
 * host's http_post (TransportMode 1) cannot be interrupted: the call returns
 * -12 as soon as http_post returns, before it sends anything further. Name
 * resolution of a host name is not interrupted either.
 */
VNSMB1C_API void vnsmb1c_s_cancel(vnsmb1c_session *session);
VNSMB1C_API void vnsmb1c_cancel(void);
/*
 * A limit for the calling thread's next call on the session, in milliseconds
 * (1 to 3,600,000; 0 removes a limit set before): that call, its wait for
 * the session, a reconnect and every exchange included, ends within it, or
 * fails with -1 "timed out: the call did not end within its limit of N ms".
 * The limit holds for that one call only; the session's time-out
 * (vnsmb1c_set_timeout) still bounds each wait for an answer. When the limit
 * ends a call that was waiting for the server, the connection is dropped and
 * the next call connects again. -6 for a value out of range.
 */
VNSMB1C_API int vnsmb1c_s_limit_next_call(vnsmb1c_session *session, int milliseconds);
VNSMB1C_API int vnsmb1c_limit_next_call(int milliseconds);

/* ---- Connection ---- */

/*
 * Ends any running session, then connects and logs on over the selected
 * transport. port 0 means 445 (over sockets: and 139, opened with a NetBIOS
 * session request, when 445 is refused; port 139 always gets one), and a
 * port outside 0..65535 fails with -6 before anything is sent; NULL domain,
 * user or password count as empty; an empty user and password log on
 * anonymously. The host is a name (letters, digits, '-', '_', '.'), an IPv4
 * address of four numbers from 0 to 255 or an IPv6 address without
 * brackets; any other text (such as "5601" or "127.1", which the C library
 * would turn into some address) fails with -6 before anything is resolved.
 */
VNSMB1C_API int vnsmb1c_connect(const char *host, int port, const char *domain, const char *user,
                                const char *password);
/*
 * Connects with a settings JSON object: FullUrl or HostName, ServerPort,
 * Port, DomainName, UserName, Password, Path, LocalPort, TimeoutMs, ReadAhead,
 * ReadAheadBudget, LegacyAuth, CodePage, NameResolve, WinsServer, NameBroadcast
 * (see vnsmb1c_set_name_resolve). Texts are JSON
 * strings, the ports integers or strings of one (1..65535); null counts as
 * absent. A refused setting (a wrong type included) fails with -6 before
 * anything else happens, so the running session stays.
 * The user, password and domain inside FullUrl log on (taken as written,
 * without %XX decoding); a non-empty UserName, Password or DomainName
 * replaces its part. A wrong password fails with -3: the library never goes
 * on as a guest in its place. A server may still log a named user on as its
 * guest (Samba's "map to guest = bad user" does so for unknown users): the
 * connect succeeds and vnsmb1c_session_json says "guest":true.
 */
VNSMB1C_API int vnsmb1c_connect_json(const char *settings_json);
/*
 * Old servers. How far a logon may go below NTLMv2, for this and later
 * connections (the settings key "LegacyAuth" sets it as well): "none" (the
 * default: NTLMv2, or anonymous), "ntlmv1" (NTLMv1 responses instead),
 * "lm" (NTLMv1 and the LAN Manager response), "plaintext" (the password in
 * clear text to a server that offers no challenge, and everything before).
 * A server that needs more than allowed is refused with -8 naming the
 * level it needs. Share-level servers get the share password with
 * TREE_CONNECT by the same rule. -6 for another name.
 */
VNSMB1C_API int vnsmb1c_set_legacy_auth(const char *level);
/*
 * The 8-bit code page of names on a server without Unicode, for this and
 * later connections (settings key "CodePage"): "CP850" (the default),
 * "CP437", "CP858", "CP1252", "ISO-8859-1" or "ISO-8859-15". A name that
 * the page cannot hold fails with -8. -6 for another name.
 */
VNSMB1C_API int vnsmb1c_set_code_page(const char *name);
/*
 * How long the session waits for each answer of the server, in milliseconds
 * (1 to 3,600,000; 30,000 unless set). It holds from the next call on and
 * for later connections; the settings key "TimeoutMs" sets it as well. A
 * server that does not answer in time fails the call with -1 "timed out ...";
 * the session then counts as broken. The next call tries to connect again,
 * with a short bound of its own for each wait (a tenth of the time-out,
 * 0.5 s to 2 s); while such tries time out, calls fail at once with -1
 * "timed out ... not tried again yet" for a pause that doubles from twice
 * that bound up to one time-out, then the next call tries again.
 * -6 for a value out of range.
 */
VNSMB1C_API int vnsmb1c_set_timeout(int milliseconds);
/*
 * Names the share the next connection will use first ("Media"; NULL or ""
 * for none). The logon then connects that share in its last message, where
 * the server takes chained requests, and saves the round trip of a
 * connection of its own; a server that refuses the chain gets the share
 * connected on its own, and the session asks no more. A share that cannot be
 * connected fails only the first call that uses it. The name holds for
 * later connections. vnsmb1c_connect_json sets it from the share of its
 * "Path" key (or of the path of "FullUrl"), to none without a path. -6 for a
 * name longer than 80 bytes.
 */
VNSMB1C_API int vnsmb1c_set_first_share(const char *share);
/* Logs off and closes the connection; the settings but the password stay
 * stored. TREE_DISCONNECT and LOGOFF go out without waiting for the server's
 * replies (over a host relay, each waits 0.5 s to 2 s at the most). */
VNSMB1C_API void vnsmb1c_disconnect(void);
/*
 * Compact JSON report of the negotiated session. Never NULL; owned by the
 * library and valid until the calling thread's next vnsmb1c_session_json or
 * vnsmb1c_item_json.
 */
VNSMB1C_API const char *vnsmb1c_session_json(void);

/* ---- Names and discovery ---- */

/*
 * How the default session finds a server by name, from its next connection
 * on (vnsmb1c_servers uses the same settings). A host part that is an
 * address is used as it is; a name with a dot goes to the system's resolver
 * first and then to NetBIOS; a single-label name is tried both ways, the
 * first method of the order starting alone and the second joining 250 ms
 * later, the first good answer winning. NetBIOS asks the WINS server when
 * one is set, then broadcasts a name query (on the host's own IPv4
 * networks only).
 *   order:       "netbios,dns" (the default), "dns,netbios", "netbios" or
 *                "dns"; NULL keeps the current order.
 *   wins_server: an IPv4 address, "" for none (the default); NULL keeps it.
 *   broadcast:   1 allows broadcasts (the default), 0 forbids every
 *                broadcast, -1 keeps the current choice.
 * -6 for a value it cannot take, and nothing changes. The settings keys
 * "NameResolve", "WinsServer" and "NameBroadcast" (true or false) of
 * vnsmb1c_connect_json and the host tables do the same.
 */
VNSMB1C_API int vnsmb1c_set_name_resolve(const char *order, const char *wins_server, int broadcast);
/*
 * Looks for the SMB servers of the local network within a bound: the browse
 * list of each workgroup's local master browser (NetServerEnum2 over
 * \PIPE\LANMAN) and the nodes that answer a broadcast name query with a
 * node status. settings_json is NULL or an object with "Workgroup" (list
 * only that workgroup), "DiscoveryMs" (the bound, 100 to 60,000; 4,000
 * unless given), "UserName", "Password" and "DomainName" (for the browse
 * list; anonymous unless given) and the name keys above (unless given, the
 * default session's). Returns the number of servers found (0 included), or
 * -6 for refused settings; the list is in vnsmb1c_servers_json.
 */
VNSMB1C_API int vnsmb1c_servers(const char *settings_json);
/*
 * The last list of vnsmb1c_servers on this thread: {"servers":[{"name",
 * "workgroup","address","comment","found_by":[...]}],"workgroups":[{"name",
 * "master","address"}],"notes":[...]}; found_by holds "browse" (a master
 * browser listed it) and "broadcast" (it answered a name query and a node
 * status); notes say what could not be asked. "{}" before the first call.
 * Valid until the thread's next vnsmb1c_servers.
 */
VNSMB1C_API const char *vnsmb1c_servers_json(void);

/* ---- Browse and read ---- */

/*
 * Paths name the share first: "Media", "Media/Movies", "/Media/Movies/" or
 * \Media\Movies all work; slashes and backslashes both separate. The
 * share name holds at most 80 bytes; the rest, in canonical form, at most
 * 1,024 bytes, 64 components and 255 bytes a component (-6 beyond).
 * Operations that talk to the server need a connected session (-5 otherwise).
 */

/*
 * Lists the server's shares (administrative ones left out); the count, at
 * most 256. A server with more fails with -7 rather than show part of them.
 */
VNSMB1C_API int vnsmb1c_shares(void);
/*
 * The index-th share name of the last share listing, or "". Valid until the
 * calling thread asks for the same index again after another share listing.
 */
VNSMB1C_API const char *vnsmb1c_share_name(int index);
/*
 * Splits a share-qualified path into the share (at most 80 bytes) and the
 * canonical rest ("" when nothing follows the share). Capacities count the
 * NUL; pass rest NULL with rest_capacity 0 for the share alone.
 */
VNSMB1C_API int vnsmb1c_split_path(const char *path, char *share, int share_capacity, char *rest,
                                   int rest_capacity);
/*
 * Lists one folder: path, then sub (may be NULL) appended to it. Returns the
 * number of listed items; names beginning with '$', '.' or '@' are counted
 * as hidden instead of listed. A listing holds up to 1,000,000 items (about
 * 150 to 230 bytes each, by the length of the names) and reads up to
 * 4,000,000 entries, hidden ones included: a larger folder fails with -7,
 * never with part of it. A file fails with -6 ("... is a file, not a folder").
 */
VNSMB1C_API int vnsmb1c_list(const char *path, const char *sub);
/*
 * The same listing with the hidden names listed too: their items carry
 * "hidden":true, and vnsmb1c_list_hidden_count still counts them. Returns
 * the number of listed items, hidden ones included (at most 1,000,000).
 */
VNSMB1C_API int vnsmb1c_list_all(const char *path, const char *sub);
/*
 * The last listing as {"items":[...]}, each item with "name", "path",
 * "folder", "size", "mtime_ms" and "hidden"; "[]" when none is held. Valid
 * until the calling thread's next vnsmb1c_list_json after the listing changed.
 */
VNSMB1C_API const char *vnsmb1c_list_json(void);
/*
 * One item of the last listing as compact JSON, or "" for an index out of
 * range. Valid until the calling thread's next successful vnsmb1c_item_json
 * or its next vnsmb1c_session_json.
 */
VNSMB1C_API const char *vnsmb1c_item_json(int index);
/* Hidden names in the last listing: left out by vnsmb1c_list, listed by vnsmb1c_list_all. */
VNSMB1C_API int vnsmb1c_list_hidden_count(void);
/* 1 when the name begins with '$', '.' or '@', else 0 (also for NULL). */
VNSMB1C_API int vnsmb1c_is_hidden_name(const char *name);
/*
 * One file or folder as a record: an item of a listing (vnsmb1c_entry) or
 * the answer about one path (vnsmb1c_stat). name and path are UTF-8 texts
 * the session holds; the call that fills the record says how long they stay
 * valid. The layout is fixed (64-bit offsets below).
 */
typedef struct vnsmb1c_Entry {
    int64_t size;      /* bytes; -1 for a folder */
    int64_t mtime_ms;  /* Unix milliseconds, -1 when not available */
    const char *name;  /* the last part of the path */
    const char *path;  /* share-qualified ("Media/Movies/a.mkv") */
    int32_t folder;    /* 1 for a folder, else 0 */
    int32_t hidden;    /* 1 when the name counts as hidden, else 0 */
} vnsmb1c_Entry;
/*
 * Fills *out with the index-th item of the last listing (vnsmb1c_list or
 * vnsmb1c_list_all), the item vnsmb1c_item_json(index) describes.
 * 0, or -6 for a NULL out, an index outside 0 .. count-1, or no listing
 * held (before the session's first successful listing, and after a connect
 * or disconnect: "no listing held"); *out is left as it was on failure.
 * path is the share as the listing named it, "/", and the item's path in
 * the share ("media/Movies/a.mkv" after vnsmb1c_list("media", "Movies")),
 * ready for vnsmb1c_open(path, NULL); the item JSON's "path" leaves the
 * share out.
 * name and path point into the listing the session holds, not into copies
 * of the calling thread: they stay valid until that listing is replaced or
 * dropped, by the session's next successful vnsmb1c_list or
 * vnsmb1c_list_all (a failed one keeps the listing), its vnsmb1c_connect,
 * vnsmb1c_connect_json (unless the settings are refused),
 * vnsmb1c_disconnect, vnsmb1c_use_sockets, vnsmb1c_use_io or
 * vnsmb1c_use_fake, or vnsmb1c_session_free; such a call on another thread
 * ends them as well. Copy them before letting another thread list on the
 * same session.
 */
VNSMB1C_API int vnsmb1c_entry(int index, vnsmb1c_Entry *out);
/*
 * One file, folder or share by its share-qualified path, as the record
 * above: for a file its size and last-write time, for a folder size -1 (and
 * its time where the server gives one); a share alone ("Media") is a folder
 * with mtime_ms -1. Asks the server about the one path in one round trip
 * (once the share's tree is connected); a server that does not answer such a
 * query is asked with a search for the one name instead, from then on for
 * the session. name is the last part of the path, path the canonical
 * share-qualified path ("Media/Movies/a.mkv"); both stay valid until the
 * calling thread's next vnsmb1c_stat on that session (and end with the
 * session). 0; -4 when there is no such file, folder or share; -6 for a
 * NULL out or a bad path; *out is written only on success.
 */
VNSMB1C_API int vnsmb1c_stat(const char *path, vnsmb1c_Entry *out);
/*
 * Opens an existing file for reading: file is relative to path, so
 * ("Media", "Movies/a.mkv"), ("Media/Movies", "a.mkv") and
 * ("Media/Movies/a.mkv", NULL) are the same file. A folder fails with -6
 * ("... is a folder, not a file"). Returns a handle in 1..2^30; -7 when 64
 * files are open already.
 * Handles end with the session. A closed or ended handle stays bad: its
 * number comes back only after 2^24 further opens of its slot.
 */
VNSMB1C_API int vnsmb1c_open(const char *path, const char *file);
/* Size of the open file (as it was when opened), or -6 "bad handle" for a handle that is not open. */
VNSMB1C_API int64_t vnsmb1c_size(int handle);
/*
 * Reads length bytes at offset, with as many requests in flight as the
 * server allows. Returns length unless the file ends first (then the bytes up
 * to its end), 0 at or past end of file or for a length of 0 (buffer may then
 * be NULL), or a negative ResultCode. A reply
 * that fails its signature check fails the call with -2. Callers should
 * still accept a short count. Reads that continue where the last ended earn
 * read-ahead (see vnsmb1c_set_read_ahead).
 */
VNSMB1C_API int vnsmb1c_read_at(int handle, int64_t offset, void *buffer, int length);
/*
 * Bytes each open file may read ahead of a sequential reader: the window
 * grows while reads continue where the last ended and is dropped on a seek.
 * The default is 8 MiB (8388608); 0 turns read-ahead off. Applies to files of
 * the session from their next read. 0, or -6 for a negative value.
 */
VNSMB1C_API int vnsmb1c_set_read_ahead(int64_t bytes);
/*
 * Bytes the open files of the session may hold read ahead together (requests
 * in flight and answers kept). The default is 32 MiB (33554432); 0 turns
 * read-ahead off for the session. The file read most recently comes first:
 * a read that needs room takes it from the files read longest ago, whose
 * read-ahead is dropped (their next read asks the server again). The
 * settings key "ReadAheadBudget" sets it as well. 0, or -6 for a value
 * outside 0 .. 1 GiB.
 */
VNSMB1C_API int vnsmb1c_set_read_ahead_budget(int64_t bytes);
/* Closes the handle; unknown, closed and ended handles are ignored. The
 * CLOSE goes out without waiting for the server's reply. */
VNSMB1C_API void vnsmb1c_close(int handle);

/* ---- The same calls on a given session ---- */

/*
 * Each works as the function of the same name without "s_" does, on the
 * given session instead of the default one; a NULL session fails with -6
 * "no session" ("" or "[]" for the texts, nothing for the void functions).
 * Handles are the session's own: a handle of one session means nothing to
 * another.
 */
VNSMB1C_API int vnsmb1c_s_connect(vnsmb1c_session *session, const char *host, int port, const char *domain,
                                  const char *user, const char *password);
VNSMB1C_API int vnsmb1c_s_connect_json(vnsmb1c_session *session, const char *settings_json);
VNSMB1C_API int vnsmb1c_s_set_timeout(vnsmb1c_session *session, int milliseconds);
VNSMB1C_API int vnsmb1c_s_set_first_share(vnsmb1c_session *session, const char *share);
VNSMB1C_API int vnsmb1c_s_set_legacy_auth(vnsmb1c_session *session, const char *level);
VNSMB1C_API int vnsmb1c_s_set_code_page(vnsmb1c_session *session, const char *name);
VNSMB1C_API void vnsmb1c_s_disconnect(vnsmb1c_session *session);
VNSMB1C_API const char *vnsmb1c_s_session_json(vnsmb1c_session *session);
VNSMB1C_API int vnsmb1c_s_shares(vnsmb1c_session *session);
VNSMB1C_API const char *vnsmb1c_s_share_name(vnsmb1c_session *session, int index);
VNSMB1C_API int vnsmb1c_s_list(vnsmb1c_session *session, const char *path, const char *sub);
VNSMB1C_API int vnsmb1c_s_list_all(vnsmb1c_session *session, const char *path, const char *sub);
VNSMB1C_API const char *vnsmb1c_s_list_json(vnsmb1c_session *session);
VNSMB1C_API const char *vnsmb1c_s_item_json(vnsmb1c_session *session, int index);
VNSMB1C_API int vnsmb1c_s_entry(vnsmb1c_session *session, int index, vnsmb1c_Entry *out);
VNSMB1C_API int vnsmb1c_s_list_hidden_count(vnsmb1c_session *session);
VNSMB1C_API int vnsmb1c_s_stat(vnsmb1c_session *session, const char *path, vnsmb1c_Entry *out);
VNSMB1C_API int vnsmb1c_s_open(vnsmb1c_session *session, const char *path, const char *file);
VNSMB1C_API int64_t vnsmb1c_s_size(vnsmb1c_session *session, int handle);
VNSMB1C_API int vnsmb1c_s_read_at(vnsmb1c_session *session, int handle, int64_t offset, void *buffer, int length);
VNSMB1C_API int vnsmb1c_s_set_read_ahead(vnsmb1c_session *session, int64_t bytes);
VNSMB1C_API int vnsmb1c_s_set_read_ahead_budget(vnsmb1c_session *session, int64_t bytes);
VNSMB1C_API void vnsmb1c_s_close(vnsmb1c_session *session, int handle);
VNSMB1C_API int vnsmb1c_s_last_code(vnsmb1c_session *session);
VNSMB1C_API uint32_t vnsmb1c_s_last_status(vnsmb1c_session *session);
/* The transport of the session's next connection (see vnsmb1c_use_sockets);
 * vnsmb1c_s_use_fake with NULL keeps the fake tree loaded already (-6 when
 * none is). */
VNSMB1C_API int vnsmb1c_s_use_sockets(vnsmb1c_session *session);
VNSMB1C_API int vnsmb1c_s_use_io(vnsmb1c_session *session, const vnsmb1c_HostIo *io);
VNSMB1C_API int vnsmb1c_s_use_fake(vnsmb1c_session *session, const char *fake_tree_json);
/* Names and discovery on a session: its name settings and transport; the
 * list stays valid until the thread's next vnsmb1c_s_servers on the session. */
VNSMB1C_API int vnsmb1c_s_set_name_resolve(vnsmb1c_session *session, const char *order, const char *wins_server,
                                           int broadcast);
VNSMB1C_API int vnsmb1c_s_servers(vnsmb1c_session *session, const char *settings_json);
VNSMB1C_API const char *vnsmb1c_s_servers_json(vnsmb1c_session *session);

/* ---- Folder-access backend ---- */

/*
 * The host's folder-access ("vnffa") table for the backend "smb1". The
 * records below are shared with the host byte for byte (64-bit layout).
 * Every operation but close returns a status: 0 success, 2 no connection,
 * 3 not found or bad path, 4 authentication failed, 5 other failure,
 * 6 unsupported, 7 cancelled, 8 bad settings, 9 invalid argument or buffer
 * too small, 10 out of memory.
 */
enum {
    VNSMB1C_FFA_OK = 0,
    VNSMB1C_FFA_NOCONN = 2,
    VNSMB1C_FFA_NOTFOUND = 3,
    VNSMB1C_FFA_AUTH = 4,
    VNSMB1C_FFA_FAILED = 5,
    VNSMB1C_FFA_UNSUPPORTED = 6,
    VNSMB1C_FFA_CANCELLED = 7,
    VNSMB1C_FFA_BADSETTINGS = 8,
    VNSMB1C_FFA_INVALID = 9,
    VNSMB1C_FFA_NOMEM = 10
};

/* FolderEntry.flags bits. */
enum {
    VNSMB1C_FFA_SIZE_VALID = 0x01,
    VNSMB1C_FFA_MTIME_VALID = 0x02,
    VNSMB1C_FFA_LOCATOR_VALID = 0x20
};

/* One entry; owned by the host. host_data and host_more are never touched. */
typedef struct vnsmb1c_FolderEntry {
    uint32_t host_data;
    uint32_t flags;
    const char *name;
    const char *path;
    int32_t is_folder;
    int64_t size;      /* -1 when not available */
    int64_t mtime_ms;  /* Unix milliseconds, -1 when not available */
    uint8_t host_more[16];
    const char *locator;  /* meaningful only with VNSMB1C_FFA_LOCATOR_VALID */
} vnsmb1c_FolderEntry;

/* One page request of list; owned by the host. host_data is never touched. */
typedef struct vnsmb1c_ListRequest {
    uint8_t host_data[8];
    const char *cursor;            /* in: NULL or "" for the first page */
    vnsmb1c_FolderEntry *entries;  /* in: at least capacity records */
    uint64_t capacity;             /* in */
    uint64_t count;                /* out: entries filled */
    int32_t has_more;              /* out */
    const char *next_cursor;       /* out: NULL on the last page */
    const int32_t *cancel;         /* in: may be NULL; non-zero stops the listing */
} vnsmb1c_ListRequest;

/*
 * The table. Entry texts of list stay valid until the listing is dropped
 * (list of another path or with a non-numeric cursor, open, close); those
 * of stat until the next stat, open or close.
 */
typedef struct vnsmb1c_FolderBackend {
    uint32_t size;  /* 72 */
    uint32_t size_pad;
    const char *name;  /* "smb1" */
    uint32_t version;  /* 2 */
    uint32_t version_pad;
    void *context;
    int (*open)(void *context, const char *settings_json);
    int (*list)(void *context, const char *path, vnsmb1c_ListRequest *request);
    int (*stat)(void *context, const char *path, vnsmb1c_FolderEntry *entry);
    int (*locator)(void *context, const char *path, char *buffer, size_t capacity);
    void (*close)(void *context);
} vnsmb1c_FolderBackend;

/* The host contract fixes the 64-bit layout. */
#if UINTPTR_MAX > 0xFFFFFFFFu
#  ifdef __cplusplus
#    define VNSMB1C_FFA_PIN(e) static_assert(e, #e)
#  else
#    define VNSMB1C_FFA_PIN(e) _Static_assert(e, #e)
#  endif
VNSMB1C_FFA_PIN(sizeof(vnsmb1c_FolderEntry) == 72);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, flags) == 4);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, name) == 8);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, path) == 16);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, is_folder) == 24);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, size) == 32);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, mtime_ms) == 40);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, host_more) == 48);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderEntry, locator) == 64);
VNSMB1C_FFA_PIN(sizeof(vnsmb1c_ListRequest) == 64);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, cursor) == 8);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, entries) == 16);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, capacity) == 24);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, count) == 32);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, has_more) == 40);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, next_cursor) == 48);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_ListRequest, cancel) == 56);
VNSMB1C_FFA_PIN(sizeof(vnsmb1c_FolderBackend) == 72);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, name) == 8);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, version) == 16);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, context) == 24);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, open) == 32);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, list) == 40);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, stat) == 48);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, locator) == 56);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_FolderBackend, close) == 64);
VNSMB1C_FFA_PIN(sizeof(vnsmb1c_Entry) == 40);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_Entry, mtime_ms) == 8);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_Entry, name) == 16);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_Entry, path) == 24);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_Entry, folder) == 32);
VNSMB1C_FFA_PIN(offsetof(vnsmb1c_Entry, hidden) == 36);
#  undef VNSMB1C_FFA_PIN
#endif

/* The one backend table, filled at every call. */
VNSMB1C_API const vnsmb1c_FolderBackend *vnsmb1c_vnffa_backend(void);

/* ---- Request handler ---- */

/*
 * The host's request-handler table for the runtime type "SMBCIFS" (48 bytes
 * on 64-bit hosts; the offsets are fixed). Every operation connects a session
 * of its own with the settings JSON (over the selected transport), works and
 * disconnects, leaving the library's other sessions alone, then copies its compact JSON reply (or {"error":"..."}) into out when the
 * whole text and its NUL fit in capacity; nothing is written otherwise.
 * Results: 0 success, -1 authentication failed, -2 not found, -4 network
 * failure, -5 internal failure, -6 unsupported, -8 bad request, -9 the
 * reply does not fit.
 */
typedef struct vnsmb1c_RequestHandler {
    const char *runtime_type; /* "SMBCIFS" */
    uint64_t word;            /* 0x23 */
    int (*validate)(const vnsmb1c_HostIo *io, const char *settings_json, char *out, int32_t capacity);
    int (*list)(const vnsmb1c_HostIo *io, const char *settings_json, const char *path, char *out,
                int32_t capacity);
    int (*stream)(const vnsmb1c_HostIo *io, const char *settings_json, const char *entry_json, char *out,
                  int32_t capacity);
    int (*download)(const vnsmb1c_HostIo *io, const char *settings_json, const char *entry_json, char *out,
                    int32_t capacity);
} vnsmb1c_RequestHandler;

/* Both return the same constant table. */
VNSMB1C_API const vnsmb1c_RequestHandler *vnrch_get(void);
VNSMB1C_API const vnsmb1c_RequestHandler *vnsmb1c_vnrch_handler(void);

#ifdef __cplusplus
static_assert(sizeof(void *) != 8 || sizeof(vnsmb1c_RequestHandler) == 48, "RequestHandler is 48 bytes");
static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, word) == 8, "RequestHandler.word offset");
static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, validate) == 16, "RequestHandler.validate offset");
static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, list) == 24, "RequestHandler.list offset");
static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, stream) == 32, "RequestHandler.stream offset");
static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, download) == 40, "RequestHandler.download offset");
#else
_Static_assert(sizeof(void *) != 8 || sizeof(vnsmb1c_RequestHandler) == 48, "RequestHandler is 48 bytes");
_Static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, word) == 8, "RequestHandler.word offset");
_Static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, validate) == 16, "RequestHandler.validate offset");
_Static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, list) == 24, "RequestHandler.list offset");
_Static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, stream) == 32, "RequestHandler.stream offset");
_Static_assert(sizeof(void *) != 8 || offsetof(vnsmb1c_RequestHandler, download) == 40, "RequestHandler.download offset");
#endif

/* ---- Test controls ---- */

/* Known-answer test of the built-in digests and MACs: 0, or -2. */
VNSMB1C_API int vnsmb1c_selftest(void);

/*
 * Transport of the default session's next connection (a new session starts
 * with sockets). Each call first ends the running session; the choice takes
 * effect at the next connect. The folder-access backend and the request
 * handler's calls without a HostIo connect over the default session's choice.
 *   vnsmb1c_use_sockets: TCP (the default).
 *   vnsmb1c_use_io: every message relayed through io->http_post (the object
 *     is borrowed and must stay alive while selected); -6 without http_post,
 *     the previous choice kept.
 *   vnsmb1c_use_fake: the in-process fake server, answering from the fake
 *     tree JSON given (connect to the host "fake"); -6 for a text the loader
 *     refuses, the previous choice kept. The fake server, its tree and its
 *     switches are one per process, shared by every session that uses it.
 */
VNSMB1C_API int vnsmb1c_use_sockets(void);
VNSMB1C_API int vnsmb1c_use_io(const vnsmb1c_HostIo *io);
VNSMB1C_API int vnsmb1c_use_fake(const char *fake_tree_json);
/* The library's own HostIo objects for vnsmb1c_use_io: relaying over TCP, or to the fake server. */
VNSMB1C_API const vnsmb1c_HostIo *vnsmb1c_io_socket(void);
VNSMB1C_API const vnsmb1c_HostIo *vnsmb1c_io_fake(void);
/* Sets a fault switch of the fake server ("garbage", "page", ...): 0, or -6 for an unknown name. */
VNSMB1C_API int vnsmb1c_fake_set_fault(const char *name, int value);
/* Requests the fake server saw for an SMB1 command code, or -1 outside 0..255. */
VNSMB1C_API int64_t vnsmb1c_fake_calls(int command);

#ifdef __cplusplus
} /* extern "C" */
#endif

#ifdef __cplusplus
static_assert(sizeof(vnsmb1c_Transport) == 5 * sizeof(void *), "Transport is five pointers");
static_assert(offsetof(vnsmb1c_Transport, close) == 4 * sizeof(void *), "Transport.close offset");
static_assert(sizeof(vnsmb1c_HostIo) == 4 * sizeof(void *), "HostIo is four pointers");
static_assert(offsetof(vnsmb1c_HostIo, free) == 3 * sizeof(void *), "HostIo.free offset");
#else
_Static_assert(sizeof(vnsmb1c_Transport) == 5 * sizeof(void *), "Transport is five pointers");
_Static_assert(offsetof(vnsmb1c_Transport, close) == 4 * sizeof(void *), "Transport.close offset");
_Static_assert(sizeof(vnsmb1c_HostIo) == 4 * sizeof(void *), "HostIo is four pointers");
_Static_assert(offsetof(vnsmb1c_HostIo, free) == 3 * sizeof(void *), "HostIo.free offset");
#endif

#endif /* VNSMB1C_H */
