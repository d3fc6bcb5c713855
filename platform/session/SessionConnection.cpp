#include "session/SessionConnection.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "foundation/DecodingError.h"
#include "posix/RuntimeDirectory.h"

namespace tessaly {

namespace {

// Reads exactly `size` bytes; false at the end of the stream or on an error.
bool readAll(int fd, char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = ::recv(fd, data + done, size - done, 0);
        if (count < 0 && errno == EINTR) continue;
        if (count <= 0) return false;
        done += static_cast<std::size_t>(count);
    }
    return true;
}

// Reads one frame's message; nothing at the end of the stream, on an error or an oversized frame.
std::optional<std::string> readFrame(int fd) {
    unsigned char length[SessionFrame::lengthSize];
    if (!readAll(fd, reinterpret_cast<char*>(length), sizeof length)) return std::nullopt;
    const auto size =
        SessionFrame::decodeLength(std::span<const unsigned char, SessionFrame::lengthSize>(length));
    if (!size) return std::nullopt;
    std::string message(*size, '\0');
    if (!readAll(fd, message.data(), message.size())) return std::nullopt;
    return message;
}

// A reply's kind and sequence number, before its fields.
constexpr std::size_t replyHeaderSize = 5;

SessionFrame::Writer requestHeader(std::uint32_t sequence, SessionProtocol::Operation operation) {
    SessionFrame::Writer header;
    header.u8(SessionProtocol::request).u32(sequence).u8(operation);
    return header;
}

}  // namespace

std::shared_ptr<SessionConnection> SessionConnection::connect(const std::string& socketPath,
                                                              const std::string& clientName) {
    sockaddr_un address{};
    if (socketPath.size() >= sizeof address.sun_path) return nullptr;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
    FileSystem::FileDescriptor socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket) return nullptr;
    while (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (errno != EINTR) return nullptr;
    }
    std::shared_ptr<SessionConnection> connection(new SessionConnection(std::move(socket)));
    if (!connection->greet(clientName)) return nullptr;
    return connection;
}

std::shared_ptr<SessionConnection> SessionConnection::connectIfRunning(const RuntimeDirectory& runtime,
                                                                       const std::string& clientName) {
    return connect(runtime.entry(SessionProtocol::socketName), clientName);
}

SessionConnection::SessionConnection(FileSystem::FileDescriptor socket) : socket_(std::move(socket)) {
    reader_ = std::thread([this] { readEvents(); });
}

SessionConnection::~SessionConnection() {
    ::shutdown(socket_.get(), SHUT_RDWR);
    reader_.join();
}

bool SessionConnection::greet(const std::string& clientName) {
    SessionFrame::Writer hello;
    hello.u32(SessionProtocol::version).text(clientName).i32(static_cast<std::int32_t>(::getpid()));
    const auto reply = call(SessionProtocol::hello, hello);
    if (!reply) return false;
    try {
        SessionFrame::Reader fields(*reply);
        return fields.u32() == SessionProtocol::version;
    } catch (const DecodingError&) {
        return false;
    }
}

std::optional<std::string> SessionConnection::call(SessionProtocol::Operation operation,
                                                   const SessionFrame::Writer& arguments) {
    std::lock_guard turn(callMutex_);
    std::unique_lock state(stateMutex_);
    if (lost_) return std::nullopt;
    const std::uint32_t sequence = nextSequence_++;
    if (nextSequence_ == 0) nextSequence_ = 1;  // 0 marks a one-way request
    awaited_ = sequence;
    reply_.reset();
    state.unlock();
    if (!write((requestHeader(sequence, operation).bytes() + arguments.bytes()))) {
        lose();
        return std::nullopt;
    }
    state.lock();
    replied_.wait(state, [this] { return reply_.has_value() || lost_; });
    awaited_ = 0;
    if (!reply_) return std::nullopt;
    return std::exchange(reply_, std::nullopt);
}

void SessionConnection::send(SessionProtocol::Operation operation, const SessionFrame::Writer& arguments) {
    if (!isConnected()) return;
    write(requestHeader(0, operation).bytes() + arguments.bytes());
}

void SessionConnection::onEvent(SessionProtocol::Event event, EventHandler handler) {
    std::lock_guard state(stateMutex_);
    handlers_[event] = std::move(handler);
}

void SessionConnection::onLost(std::function<void()> handler) {
    std::lock_guard state(stateMutex_);
    lossHandlers_.push_back(std::move(handler));
}

bool SessionConnection::isConnected() const {
    std::lock_guard state(stateMutex_);
    return !lost_;
}

bool SessionConnection::write(const std::string& message) {
    SessionFrame::Writer length;
    length.u32(static_cast<std::uint32_t>(message.size()));
    const std::string frame = length.bytes() + message;
    std::lock_guard turn(writeMutex_);
    std::size_t written = 0;
    while (written < frame.size()) {
        // MSG_NOSIGNAL: a session that went away is a lost connection, not a SIGPIPE.
        const ssize_t count =
            ::send(socket_.get(), frame.data() + written, frame.size() - written, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) continue;
        if (count < 0) return false;
        written += static_cast<std::size_t>(count);
    }
    return true;
}

void SessionConnection::readEvents() {
    while (auto message = readFrame(socket_.get())) {
        try {
            handle(*message);
        } catch (const DecodingError&) {
            break;  // a session that speaks nonsense is treated as gone
        }
    }
    lose();
}

void SessionConnection::handle(std::string_view message) {
    SessionFrame::Reader fields(message);
    const std::uint8_t kind = fields.u8();
    if (kind == SessionProtocol::reply) {
        const std::uint32_t sequence = fields.u32();
        std::lock_guard state(stateMutex_);
        if (sequence != awaited_ || awaited_ == 0) throw DecodingError("a reply answers no request");
        reply_ = std::string(message.substr(replyHeaderSize));
        replied_.notify_all();
        return;
    }
    if (kind != SessionProtocol::event) throw DecodingError("a session message of an unknown kind");
    const auto event = static_cast<SessionProtocol::Event>(fields.u8());
    EventHandler handler;
    {
        std::lock_guard state(stateMutex_);
        auto found = handlers_.find(event);
        if (found != handlers_.end()) handler = found->second;
    }
    if (handler) handler(fields);
}

void SessionConnection::lose() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard state(stateMutex_);
        if (lost_) return;
        lost_ = true;
        handlers.swap(lossHandlers_);
        replied_.notify_all();
    }
    ::shutdown(socket_.get(), SHUT_RDWR);
    for (auto& handler : handlers) handler();
}

}  // namespace tessaly
