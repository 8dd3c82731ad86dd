// How a tab tells the desk from another program on its port, and what it
// sends instead of the token. The port can be taken by any local user while
// the reviewer is down, and a tab left open tries it again every second: it
// asks for a proof over a nonce of its own, and talks only to a server whose
// proof it can check against the token it holds. Even then it sends not the
// token but a key made from it for this run of the reviewer: a request the
// browser sends again after the reviewer stopped (it retries one whose
// connection closed unanswered) may reach another program on the port, and
// the key it carries opens no later run.
#pragma once

#include <string>
#include <string_view>

#include "api_reply.h"
#include "base/result.h"
#include "request_check.h"

namespace varnock::desk {

// HMAC-SHA256 under `token` of "varnock-review desk AUTHORITY NONCE RUN",
// as 64 lowercase hexadecimal digits. The authority binds the proof to the
// port the tab is on, so that a proof relayed from a desk on another port
// does not pass.
std::string desk_proof(std::string_view token, std::string_view authority, std::string_view nonce,
                       std::string_view run);

// The key a tab sends for run `run` of the desk at `authority`: HMAC-SHA256
// under `token` of "varnock-review tab AUTHORITY RUN", in hex.
std::string tab_key(std::string_view token, std::string_view authority, std::string_view run);

// The desk at `authority` with `token`, in the run named `run`.
DeskIdentity desk_identity(std::string authority, std::string token, std::string run);

// The reply to "GET /proof?nonce=N": {"proof":"...","run":"..."} for a nonce
// of 32 to 128 lowercase hexadecimal digits, 400 otherwise. It needs no
// token: it tells nothing that opens the desk.
Reply proof_reply(std::string_view target, const DeskIdentity& desk);

// Asks the desk at `desk_url` ("http://127.0.0.1:PORT/") for a proof over a
// fresh nonce and checks it against `token`, within a few seconds: before
// the address with the token is handed to a browser, since a desk that
// stopped may have left its port to another user. A failure says why.
Status prove_desk(const std::string& desk_url, std::string_view token);

// Whether `reply`, the body of a /proof answer, proves `token` to the desk
// at `authority` for `nonce`: {"proof":"...","run":"..."} with the proof
// that run's desk makes.
bool proof_holds(std::string_view reply, std::string_view token, std::string_view authority,
                 std::string_view nonce);

}  // namespace varnock::desk
