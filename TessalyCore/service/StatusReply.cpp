#include "service/StatusReply.h"

namespace tessaly {

std::string StatusReply::encode() const {
    Json::Value value = Json::Value::object();
    if (status) value["status"] = status->toJson();
    if (error) value["error"] = *error;
    return Json::writeCompact(value);
}

StatusReply StatusReply::decode(std::string_view bytes) {
    const Json::Value value = Json::parse(bytes);
    Json::ObjectReader reader(value);
    StatusReply reply;
    if (auto status = reader.optionalObject("status")) reply.status = AudioStatus::fromJson(*status);
    reply.error = reader.optionalText("error");
    return reply;
}

}  // namespace tessaly
