#include "messaging/dispatch.h"

#include <algorithm>
#include <array>

#include "messaging/framing.h"

namespace tolvanik {
namespace {

JsonDocument fixed_reply(std::string_view type, std::string_view message) {
  JsonArena arena(2 * sizeof(JsonMember));
  const JsonValue reply =
      arena.object({{"message", JsonValue::string(message)}, {"type", JsonValue::string(type)}});
  return JsonDocument(std::move(arena), reply);
}

CommandAnswer answer_ping(const std::string&, const JsonDocument&, WaitWatch*) {
  return {fixed_reply("pong", "Hello from Windows!"), "answered", {}};
}

CommandAnswer answer_get_status(const std::string& storage_path, const JsonDocument&,
                                WaitWatch* watch) {
  return handle_get_status(storage_path, watch);
}

CommandAnswer answer_unknown(const std::string&, const JsonDocument&, WaitWatch*) {
  return {fixed_reply("error", "Unknown command"), "unknown command", {}};
}

constexpr std::array kCommands{
    Command{"ping", CommandReach::kNothing, answer_ping},
    Command{"getStatus", CommandReach::kReadsStorage, answer_get_status},
    Command{"setColors", CommandReach::kWritesStorage, handle_set_colors},
    Command{"syncRequest", CommandReach::kWritesStorage, handle_sync_request},
};

constexpr Command kUnknownCommand{"", CommandReach::kNothing, answer_unknown};

}  // namespace

std::string_view request_type(const JsonValue& request) {
  const JsonValue* type = request.find("type");
  return type != nullptr && type->is_string() ? type->as_string() : std::string_view();
}

const Command& find_command(std::string_view type) {
  const auto found = std::ranges::find_if(
      kCommands, [type](const Command& command) { return command.type == type; });
  return found == kCommands.end() ? kUnknownCommand : *found;
}

CommandAnswer answer_request(const std::string& storage_path, const JsonDocument& request,
                             WaitWatch* watch) {
  return find_command(request_type(request.root())).answer(storage_path, request, watch);
}

void log_request(HostLog& log, const JsonDocument& request, const CommandAnswer& answer,
                 std::size_t bytes_out, std::chrono::nanoseconds started) {
  if (!log.on()) return;
  for (const StorageFacts& met : answer.storage_met) log.storage_met(met);
  // The type is noted only when it names a command: any other is the
  // extension's own text.
  log.request({.type = find_command(request_type(request.root())).type,
               .bytes_in = request.text_bytes(),
               .reply_type = request_type(answer.reply.root()),
               .bytes_out = bytes_out,
               .time = log.clock() - started,
               .outcome = answer.outcome});
}

void log_input_end(HostLog& log, const InputEnd& end) {
  log.input_ended(describe(end.reason),
                  end.length == 0 ? std::nullopt : std::optional<std::uint32_t>(end.length));
}

void dispatch_request(const std::string& storage_path, const JsonDocument& request, HostLog& log,
                      WaitWatch* watch) {
  const auto started = log.clock();
  const CommandAnswer answer = answer_request(storage_path, request, watch);
  log_request(log, request, answer, send_message(answer.reply), started);
}

}  // namespace tolvanik
