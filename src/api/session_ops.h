// The operations of the C interface on any session: the exported functions
// run them on the default session, the host tables on sessions of their own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "net/msg_transport.h"
#include "sess/session.h"
#include "vnsmb1c.h"

// A transport kind: VNSMB1C_MODE_SOCKET, _HOSTIO (with its io) or _FAKE.
struct TransportChoice {
    int32_t mode = VNSMB1C_MODE_SOCKET;
    const vnsmb1c_HostIo *io = nullptr;
};

// The kind vnsmb1c_use_sockets/_io/_fake selected last.
TransportChoice vnb_selected_transport();
// A new, unopened transport of the kind; NULL when it cannot be built.
std::unique_ptr<MsgTransport> vnb_make_transport(const TransportChoice &kind);

// The C interface's session, made on first use.
Session &vnb_default_session();
// Whether the default session has been made.
bool vnb_default_session_made();

// Ends any running session of s, stores the settings and logs on over a new
// transport of the given kind.
int32_t vnb_connect(Session &s, const TransportChoice &kind, const char *host, int port, const char *domain,
                    const char *user, const char *password);
// The same with a settings JSON object; a refused setting leaves s alone.
int32_t vnb_connect_json(Session &s, const TransportChoice &kind, const char *settings_json);
void vnb_disconnect(Session &s);
// The share the next logon connects in its last message: 0, or -6 for a
// name longer than 80 bytes.
int32_t vnb_set_first_share(Session &s, const char *share);

// 0 when s is established, else -5 "not connected".
int32_t vnb_require_session(const Session &s);
// Splits a share-qualified path for the operations that name a location:
// -6 "empty share name" for NULL or "", else vnsmb1c_split_path with the
// share and the canonical rest.
int32_t vnb_split_located(const char *path, char (&share)[82], char (&rest)[1026]);

int32_t vnb_shares(Session &s);
const char *vnb_share_name(const Session &s, int index);
// Lists a folder into s.listing, hidden names counted, and listed as well
// with with_hidden. The item count, or a negative ResultCode.
int32_t vnb_list(Session &s, const char *path, const char *sub, bool with_hidden = false);

// One file, folder or share by its share-qualified path: e.path comes back
// share-qualified, e.name is its last part. 0, or a negative ResultCode.
int32_t vnb_stat(Session &s, const char *path, DirEntry *e);

int32_t vnb_open(Session &s, const char *path, const char *file);
int64_t vnb_size(Session &s, int handle);
int32_t vnb_read_at(Session &s, int handle, int64_t offset, void *buffer, int length);
void vnb_close(Session &s, int handle);

// The session report of vnsmb1c_session_json, with the frame count given;
// "" when it cannot be written.
std::string vnb_session_report(const Session &s, uint64_t frames);

// One entry as compact item JSON, and a whole listing as {"items":[...]}.
std::string vnb_item_json(const DirEntry &e);
std::string vnb_listing_json(const Listing &l);
