#include "service/StatusReply.h"

namespace tessaly {

std::string StatusReply::encode() const {
    json::Value value = json::Value::object();
    if (status) value["status"] = status->toJson();
    if (error) value["error"] = *error;
    return json::writeCompact(value);
}

StatusReply StatusReply::decode(std::string_view bytes) {
    const json::Value value = json::parse(bytes);
    json::ObjectReader reader(value);
    StatusReply reply;
    if (auto status = reader.optionalObject("status")) reply.status = AudioStatus::fromJson(*status);
    reply.error = reader.optionalText("error");
    return reply;
}

}  // namespace tessaly
