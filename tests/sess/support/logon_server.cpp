#include "sess/support/logon_server.h"

#include <cstring>

#include "crypto/crypto.h"
#include "ntlm/ntlm.h"
#include "ntlm/spnego.h"
#include "sess/support/sess_fixture.h"
#include "util/text.h"

namespace sp {

SetupRequest parse_setup(const Bytes &req)
{
    SetupRequest s;
    s.word_count = req.size() > 32 ? req[32] : 0;
    if (s.word_count == 12) {
        s.blob_len = get16(req, 47);
        s.capabilities = get32(req, 53);
    } else if (s.word_count == 13) {
        s.lm_len = get16(req, 47);
        s.nt_len = get16(req, 49);
        s.capabilities = get32(req, 55);
    }
    s.data_offset = 33 + 2 * size_t{s.word_count} + 2;
    s.byte_count = get16(req, s.data_offset - 2);
    if (s.data_offset <= req.size())
        s.data.assign(req.begin() + static_cast<std::ptrdiff_t>(s.data_offset), req.end());
    return s;
}

std::vector<Bytes> LogonServer::operator()(const Bytes &req)
{
    switch (command_of(req)) {
    case 0x72:
        return {negotiate(req)};
    case 0x73:
        setups++;
        return {extended ? setup_extended(req) : setup_basic(req)};
    default:
        return {other(req)};
    }
}

Bytes LogonServer::negotiate(const Bytes &req)
{
    mac_key.clear();
    seq = 0;
    interims_sent = 0;
    if (extended)
        return negotiate_ext(req, security_mode);
    return negotiate_basic(req, Bytes(challenge, challenge + 8), security_mode,
                           unicode ? kBasicCaps : kBasicCaps & ~0x0004u);
}

Bytes LogonServer::setup_extended(const Bytes &req)
{
    SetupRequest s = parse_setup(req);
    Bytes blob(s.data.begin(), s.data.begin() + std::min<size_t>(s.blob_len, s.data.size()));
    if (interims_sent < interims) {
        interims_sent++;
        Bytes token = raw_challenge ? fake_challenge(challenge) : fake_challenge_token(challenge);
        return setup_reply_ext(req, 0xC0000016, 0, token, uid);
    }
    const uint8_t *type3 = nullptr;
    size_t type3_len = 0;
    int raw = 0;
    if (vnb_spnego_unwrap_resp(blob.data(), blob.size(), &type3, &type3_len, &raw) != 0)
        return setup_reply_ext(req, 0xC000000D, 0, {}, uid);
    std::memcpy(g_fake_challenge, challenge, 8);
    uint8_t key[16];
    verify_result = vnb_ntlm_verify_type3(type3, type3_len, user.c_str(), password.c_str(), key);
    if (refuse_with)
        return setup_reply_ext(req, refuse_with, 0, {}, uid, 0xC801);
    if (verify_result != 0 && verify_result != 2)
        return setup_reply_ext(req, 0xC000006D, 0, {}, uid, 0xC801);
    bool guest = guest_action || verify_result == 2;
    session_key.assign(key, key + 16);
    Bytes reply = setup_reply_ext(req, 0, guest ? 1 : 0, accept_completed(), uid);
    return finish_success(req, reply, guest, session_key);
}

namespace {

// Reads an 8-bit NUL-terminated text at *pos.
}  // namespace

std::string take_text(const SetupRequest &s, size_t *pos, bool unicode)
{
    const Bytes &data = s.data;
    std::string text;
    if (!unicode) {
        while (*pos < data.size() && data[*pos] != 0)
            text.push_back(static_cast<char>(data[(*pos)++]));
        (*pos)++;
        return text;
    }
    if ((s.data_offset + *pos) % 2 != 0)
        (*pos)++;
    size_t start = *pos;
    while (*pos + 1 < data.size() && (data[*pos] != 0 || data[*pos + 1] != 0))
        *pos += 2;
    char utf8[1024];
    int32_t n = vnb_utf16_to_utf8(data.data() + start, *pos - start, utf8, sizeof utf8);
    *pos += 2;
    return n < 0 ? std::string("<bad UTF-16>") : std::string(utf8, static_cast<size_t>(n));
}

Bytes LogonServer::setup_basic(const Bytes &req)
{
    SetupRequest s = parse_setup(req);
    if (s.data.size() < size_t{s.lm_len} + s.nt_len)
        return setup_reply_basic(req, 0xC000000D, 0, uid);
    Bytes lm(s.data.begin(), s.data.begin() + s.lm_len);
    Bytes nt(s.data.begin() + s.lm_len, s.data.begin() + s.lm_len + s.nt_len);
    size_t pos = size_t{s.lm_len} + s.nt_len;
    bool wide = (get16(req, 10) & 0x8000) != 0;
    client_user = take_text(s, &pos, wide);
    client_domain = take_text(s, &pos, wide);
    client_os = take_text(s, &pos, wide);
    client_lanman = take_text(s, &pos, wide);
    if (refuse_with)
        return setup_reply_basic(req, refuse_with, 0, uid);
    if (nt.empty()) {
        verify_result = 2;
        return finish_success(req, setup_reply_basic(req, 0, 1, uid), true, {});
    }
    // NTLMv2 checked on its own: NTProofStr over challenge || blob, LMv2 over
    // both challenges.
    uint8_t nt_hash[16];
    uint8_t v2[16];
    vnb_ntlm_hashes_dom(client_user.c_str(), client_domain.c_str(), password.c_str(), nt_hash, v2);
    Bytes material(challenge, challenge + 8);
    material.insert(material.end(), nt.begin() + 16, nt.end());
    uint8_t proof[16];
    vnb_hmacmd5(v2, 16, material.data(), material.size(), proof);
    Bytes lm_material(challenge, challenge + 8);
    lm_material.insert(lm_material.end(), lm.end() - 8, lm.end());
    uint8_t lm_proof[16];
    vnb_hmacmd5(v2, 16, lm_material.data(), lm_material.size(), lm_proof);
    bool ok = nt.size() > 16 && std::memcmp(proof, nt.data(), 16) == 0 && lm.size() == 24 &&
              std::memcmp(lm_proof, lm.data(), 16) == 0 && (user.empty() || user == client_user);
    verify_result = ok ? 0 : 1;
    if (!ok)
        return setup_reply_basic(req, 0xC000006D, 0, uid);
    uint8_t key[16];
    vnb_hmacmd5(v2, 16, proof, 16, key);
    session_key.assign(key, key + 16);
    Bytes mac = session_key;
    append(mac, nt);
    return finish_success(req, setup_reply_basic(req, 0, guest_action ? 1 : 0, uid), guest_action, mac);
}

Bytes LogonServer::finish_success(const Bytes &, Bytes reply, bool guest, const Bytes &key)
{
    if ((security_mode & 0x08) && !guest) {
        mac_key = key;
        seq = 2;
        uint32_t final_seq = 1 + static_cast<uint32_t>(bad_final_signature);
        if (sign_final && final_flag) {
            sign_as_peer(mac_key, final_seq, reply);
        } else if (sign_final) {
            Bytes sig = expected_signature(mac_key, final_seq, reply);
            std::copy(sig.begin(), sig.end(), reply.begin() + 14);
        } else if (final_placeholder) {
            static const char kPlaceholder[] = "BSRSPYL ";
            std::copy(kPlaceholder, kPlaceholder + 8, reply.begin() + 14);
        }
    }
    return reply;
}

Bytes LogonServer::other(const Bytes &req)
{
    Bytes reply = reply_to(req, 0);
    if (!mac_key.empty()) {
        Bytes expect = expected_signature(mac_key, seq, req);
        if ((get16(req, 10) & 0x0004) == 0 || !std::equal(expect.begin(), expect.end(), req.begin() + 14))
            request_signature_errors.push_back("command " + std::to_string(command_of(req)) + " seq " +
                                               std::to_string(seq));
        sign_as_peer(mac_key, seq + 1, reply);
        seq += 2;
    }
    return reply;
}

}  // namespace sp
