// How a tab tells the desk from another program on its port before it
// sends the token. The port can be taken by any local user while the
// reviewer is down, and a tab left open tries it again every second: it
// asks for a proof over a nonce of its own, and sends the token only to a
// server whose proof it can check against the token it holds.
#pragma once

#include <string>
#include <string_view>

#include "api_reply.h"
#include "base/result.h"

namespace varnock::desk {

// HMAC-SHA256 under `token` of "varnock-review desk AUTHORITY NONCE", as 64
// lowercase hexadecimal digits. The authority binds the proof to the port
// the tab is on, so that a proof relayed from a desk on another port does
// not pass.
std::string desk_proof(std::string_view token, std::string_view authority, std::string_view nonce);

// The reply to "GET /proof?nonce=N": {"proof":"..."} for a nonce of 32 to
// 128 lowercase hexadecimal digits, 400 otherwise. It needs no token: it
// tells nothing that opens the desk.
Reply proof_reply(std::string_view target, std::string_view token, std::string_view authority);

// Asks the desk at `desk_url` ("http://127.0.0.1:PORT/") for a proof over a
// fresh nonce and checks it against `token`, within a few seconds: before
// the address with the token is handed to a browser, since a desk that
// stopped may have left its port to another user. A failure says why.
Status prove_desk(const std::string& desk_url, std::string_view token);

}  // namespace varnock::desk
