#include "remote/SecopNode.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

namespace moirex::secop {

namespace {

std::string SystemError(const std::string& what) { return what + ": " + std::strerror(errno); }

std::string LoopbackOr(std::string host) { return host.empty() ? std::string("127.0.0.1") : host; }

}  // namespace

std::string TAddress::Text() const {
    const bool v6 = Host.find(':') != std::string::npos;
    return (v6 ? "[" + Host + "]" : Host) + ":" + std::to_string(Port);
}

bool ParseAddress(std::string_view text, TAddress& address, std::string& error) {
    std::string_view host, port = text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos || close + 1 >= text.size() || text[close + 1] != ':') {
            error = "an IPv6 address is written [ADDRESS]:PORT: " + std::string(text);
            return false;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos) {
            error = "an IPv6 address is written [ADDRESS]:PORT: " + std::string(text);
            return false;
        }
    }
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || value > 65535) {
        error = "not ADDRESS:PORT with a port from 0 to 65535: " + std::string(text);
        return false;
    }
    address.Host = LoopbackOr(std::string(host));
    address.Port = static_cast<uint16_t>(value);
    return true;
}

double UnixTimeNow() {
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

TNode::TNode(nlohmann::json description, TNodeLimits limits) : description_(std::move(description)), limits_(limits) {
    if (!description_.is_object()) description_ = nlohmann::json::object();
    if (!description_.contains("modules") || !description_["modules"].is_object())
        description_["modules"] = nlohmann::json::object();
    for (auto& [module, body] : description_["modules"].items())
        if (!body.is_object() || !body.contains("accessibles") || !body["accessibles"].is_object())
            body["accessibles"] = nlohmann::json::object();
    describing_ = FormatMessage("describing", ".", &description_);
    // The initial updates follow the description's "order" where it gives one, else by name.
    auto ordered = [](const nlohmann::json& object, const nlohmann::json& order) {
        std::vector<std::string> names;
        if (order.is_array())
            for (const auto& n : order)
                if (n.is_string() && object.contains(n.get<std::string>())) names.push_back(n.get<std::string>());
        for (const auto& [name, v] : object.items())
            if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
        return names;
    };
    const nlohmann::json& modules = description_["modules"];
    for (const std::string& module : ordered(modules, description_.value("order", nlohmann::json()))) {
        const nlohmann::json& body = modules[module];
        const nlohmann::json& accessibles = body["accessibles"];
        std::vector<std::string> names;
        for (const std::string& name : ordered(accessibles, body.value("order", nlohmann::json())))
            if (accessibles[name].value("datainfo", nlohmann::json::object()).value("type", "") != "command")
                names.push_back(name);
        parameters_.emplace_back(module, std::move(names));
    }
}

TNode::~TNode() { Stop(); }

bool TNode::Start(const TAddress& address, std::string& error) {
    if (Running()) return true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(address.Port);
    if (const int rc = getaddrinfo(address.Host.c_str(), service.c_str(), &hints, &found); rc != 0) {
        error = "address " + address.Text() + ": " + gai_strerror(rc);
        return false;
    }
    int fd = -1;
    for (addrinfo* a = found; a; a = a->ai_next) {
        fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = SystemError("socket");
            continue;
        }
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (bind(fd, a->ai_addr, a->ai_addrlen) == 0 && listen(fd, 64) == 0) break;
        error = SystemError("cannot listen on " + address.Text());
        close(fd);
        fd = -1;
    }
    freeaddrinfo(found);
    if (fd < 0) return false;
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wakeFd_ < 0) {
        error = SystemError("eventfd");
        close(fd);
        return false;
    }
    listenFd_ = fd;
    stop_ = false;
    thread_ = std::thread([this] { Serve(); });
    return true;
}

void TNode::Stop() {
    if (!thread_.joinable()) return;
    stop_ = true;
    Wake();
    thread_.join();
    std::lock_guard lock(mutex_);
    for (auto& [id, c] : clients_) close(c.Fd);
    clients_.clear();
    requests_.clear();
    close(listenFd_);
    close(wakeFd_);
    listenFd_ = wakeFd_ = -1;
}

void TNode::Wake() {
    if (wakeFd_ < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

size_t TNode::ClientCount() const {
    std::lock_guard lock(mutex_);
    return clients_.size();
}

void TNode::Queue(TClient& c, const std::string& message) {
    if (c.Dead) return;
    if (c.Out.size() + message.size() > limits_.MaxQueuedBytes) {
        // It reads nothing, or not fast enough: it is dropped rather than kept at any cost.
        c.Dead = true;
        c.Out.clear();
        return;
    }
    c.Out += message;
}

void TNode::Publish(const std::string& module, const std::string& parameter, const nlohmann::json& value, double t,
                    bool always) {
    const std::string key = module + ":" + parameter;
    {
        std::lock_guard lock(mutex_);
        auto it = values_.find(key);
        if (it != values_.end() && !always && it->second.at(0) == value) return;
        nlohmann::json report = DataReport(value, t);
        const std::string update = FormatMessage("update", key, &report);
        values_[key] = std::move(report);
        for (auto& [id, c] : clients_)
            if (c.AllActive || c.ActiveModules.count(module)) Queue(c, update);
    }
    Wake();
}

std::vector<TRequest> TNode::TakeRequests() {
    std::lock_guard lock(mutex_);
    return std::exchange(requests_, {});
}

void TNode::Reply(uint64_t client, const std::string& message) {
    {
        std::lock_guard lock(mutex_);
        auto it = clients_.find(client);
        if (it == clients_.end()) return;
        it->second.Pending = false;
        Queue(it->second, message);
    }
    Wake();
}

const nlohmann::json* TNode::Accessible(const std::string& module, const std::string& name) const {
    const auto& modules = description_.at("modules");
    const auto m = modules.find(module);
    if (m == modules.end()) return nullptr;
    const auto& accessibles = m->at("accessibles");
    const auto a = accessibles.find(name);
    return a == accessibles.end() ? nullptr : &*a;
}

bool TNode::HasModule(const std::string& module) const { return description_.at("modules").contains(module); }

void TNode::Serve() {
    std::vector<pollfd> fds;
    std::vector<uint64_t> ids;
    std::vector<char> buffer(65536);
    while (!stop_) {
        fds.clear();
        ids.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        fds.push_back({listenFd_, POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            std::vector<uint64_t> dead;
            for (auto& [id, c] : clients_) {
                if (c.Dead) {
                    dead.push_back(id);
                    continue;
                }
                // Lines already read go on when the owner has answered the earlier requests.
                if (!c.Pending && c.In.find('\n') != std::string::npos) HandleInput(id, c);
                if (c.Eof && !c.Pending && c.Out.empty()) c.Dead = true;
                if (c.Dead) {
                    dead.push_back(id);
                    continue;
                }
                short events = 0;
                // While a request waits, at most one more line's worth is read.
                if (!c.Eof && (!c.Pending || c.In.size() <= limits_.MaxLineBytes)) events |= POLLIN;
                if (!c.Out.empty()) events |= POLLOUT;
                fds.push_back({c.Fd, events, 0});
                ids.push_back(id);
            }
            for (const uint64_t id : dead) CloseClient(id);
        }
        if (poll(fds.data(), fds.size(), 1000) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
        }
        if (fds[1].revents & POLLIN) AcceptAll();
        for (size_t i = 2; i < fds.size(); ++i) {
            const uint64_t id = ids[i - 2];
            const short revents = fds[i].revents;
            {
                // Taking new connections may have reaped this one since the poll: its descriptor
                // is closed and its number may already be another socket or a serial port of this
                // process. Only this thread closes clients, so a client still listed is still open.
                std::lock_guard lock(mutex_);
                if (!clients_.contains(id)) continue;
            }
            if (revents & POLLOUT) {
                std::string chunk;
                {
                    std::lock_guard lock(mutex_);
                    auto it = clients_.find(id);
                    if (it == clients_.end()) continue;
                    chunk = it->second.Out.substr(0, 262144);
                }
                const ssize_t sent = send(fds[i].fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                std::lock_guard lock(mutex_);
                auto it = clients_.find(id);
                if (it == clients_.end()) continue;
                if (sent > 0) it->second.Out.erase(0, static_cast<size_t>(sent));
                else if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) it->second.Dead = true;
            }
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                if (!(revents & POLLIN) && (revents & POLLHUP) && !(fds[i].events & POLLIN)) {
                    // Hung up both ways while its input was not wanted.
                    std::lock_guard lock(mutex_);
                    if (auto it = clients_.find(id); it != clients_.end()) it->second.Dead = true;
                    continue;
                }
                const ssize_t got = recv(fds[i].fd, buffer.data(), buffer.size(), MSG_DONTWAIT);
                std::lock_guard lock(mutex_);
                auto it = clients_.find(id);
                if (it == clients_.end()) continue;
                TClient& c = it->second;
                if (got == 0) {
                    // The client has sent its last request: it still gets the replies.
                    c.Eof = true;
                    continue;
                }
                if (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                    c.Dead = true;
                    continue;
                }
                if (got < 0) continue;
                std::string_view data(buffer.data(), static_cast<size_t>(got));
                if (c.Discarding) {
                    const size_t end = data.find('\n');
                    if (end == std::string_view::npos) continue;
                    c.Discarding = false;
                    data.remove_prefix(end + 1);
                }
                c.In.append(data);
                HandleInput(id, c);
            }
        }
    }
}

void TNode::AcceptAll() {
    while (true) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // EAGAIN: all taken. EMFILE and the like: the connection stays queued; tried again
            // at the next wake-up, never a busy loop.
            return;
        }
        std::lock_guard lock(mutex_);
        if (clients_.size() >= limits_.MaxClients) ReapHungUp();
        if (clients_.size() >= limits_.MaxClients) {
            close(fd);
            continue;
        }
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        TClient c;
        c.Fd = fd;
        clients_.emplace(nextClient_++, std::move(c));
    }
}

void TNode::ReapHungUp() {
    // A burst of connections that closed at once may hold every place before their ends are read;
    // those go first, so that a client that stays is not turned away for them.
    std::vector<pollfd> fds;
    std::vector<uint64_t> ids;
    for (const auto& [id, c] : clients_) {
        fds.push_back({c.Fd, POLLRDHUP, 0});
        ids.push_back(id);
    }
    if (poll(fds.data(), fds.size(), 0) <= 0) return;
    for (size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents & (POLLRDHUP | POLLHUP | POLLERR)) CloseClient(ids[i]);
}

void TNode::CloseClient(uint64_t id) {
    auto it = clients_.find(id);
    if (it == clients_.end()) return;
    close(it->second.Fd);
    clients_.erase(it);
}

void TNode::HandleInput(uint64_t id, TClient& c) {
    size_t start = 0;
    while (!c.Dead && !c.Pending) {
        const size_t end = c.In.find('\n', start);
        if (end == std::string::npos) break;
        const std::string_view line(c.In.data() + start, end - start);
        if (line.size() > limits_.MaxLineBytes) {
            Queue(c, ErrorMessage("?", "", error::ProtocolError,
                                  "message longer than " + std::to_string(limits_.MaxLineBytes) + " bytes"));
        } else {
            HandleLine(id, c, line);
        }
        start = end + 1;
    }
    c.In.erase(0, start);
    if (c.In.size() > limits_.MaxLineBytes && c.In.find('\n') == std::string::npos) {
        Queue(c, ErrorMessage("?", "", error::ProtocolError,
                              "message longer than " + std::to_string(limits_.MaxLineBytes) + " bytes"));
        c.In.clear();
        c.Discarding = true;
    }
}

void TNode::HandleLine(uint64_t id, TClient& c, std::string_view line) {
    if (line.empty() || line == "\r") return;  // an empty line is no message; nothing to answer
    const TParseResult parsed = ParseMessage(line);
    if (!parsed.Message) {
        Queue(c, ErrorMessage(parsed.Action, parsed.Specifier, error::ProtocolError, parsed.Error));
        return;
    }
    const TMessage& m = *parsed.Message;
    const std::string& a = m.Action;
    auto fail = [&](const char* errorClass, const std::string& text) {
        Queue(c, ErrorMessage(a, parsed.Specifier, errorClass, text));
    };
    if (a == IdentificationRequest) {
        Queue(c, std::string(Identification) + "\n");
    } else if (a == "describe") {
        Queue(c, describing_);
    } else if (a == "ping") {
        const nlohmann::json report = DataReport(nullptr, UnixTimeNow());
        Queue(c, FormatMessage("pong", m.Specifier, &report));
    } else if (a == "activate") {
        Activate(c, m);
    } else if (a == "deactivate") {
        if (m.Specifier.empty()) {
            c.AllActive = false;
            c.ActiveModules.clear();
            Queue(c, "inactive\n");
        } else {
            const std::string module = m.Module();
            if (!HasModule(module)) return fail(error::NoSuchModule, "no module " + Printable(module));
            c.ActiveModules.erase(module);
            Queue(c, FormatMessage("inactive", module));
        }
    } else if (a == "read" || a == "change" || a == "do") {
        const std::string module = m.Module();
        if (module.empty()) return fail(error::ProtocolError, a + " needs MODULE:" + (a == "do" ? "COMMAND" : "PARAMETER"));
        if (!HasModule(module)) return fail(error::NoSuchModule, "no module " + Printable(module));
        std::string name = m.Accessible();
        if (name.empty()) name = a == "read" ? "value" : a == "change" ? "target" : "";
        const nlohmann::json* acc = Accessible(module, name);
        const bool command = acc && acc->value("datainfo", nlohmann::json::object()).value("type", "") == "command";
        if (a == "do") {
            if (!acc || !command) return fail(error::NoSuchCommand, module + " has no command " + Printable(name));
        } else if (!acc || command) {
            return fail(error::NoSuchParameter, module + " has no parameter " + Printable(name));
        }
        if (a == "read") {
            const auto it = values_.find(module + ":" + name);
            if (it == values_.end()) return fail(error::InternalError, "no value yet");
            Queue(c, FormatMessage("reply", module + ":" + name, &it->second));
            return;
        }
        if (a == "change") {
            if (acc->value("readonly", true)) return fail(error::ReadOnly, module + ":" + name + " is read-only");
            if (!m.Data) return fail(error::ProtocolError, "change needs a value");
        }
        TMessage request = m;
        request.Specifier = module + ":" + name;
        c.Pending = true;
        requests_.push_back({id, std::move(request)});
        if (OnRequest) OnRequest();
    } else {
        fail(error::ProtocolError, "unknown action");
    }
}

void TNode::Activate(TClient& c, const TMessage& m) {
    const std::string module = m.Module();
    if (!module.empty() && !HasModule(module)) {
        Queue(c, ErrorMessage("activate", Printable(m.Specifier), error::NoSuchModule, "no module " + Printable(module)));
        return;
    }
    for (const auto& [name, parameters] : parameters_) {
        if (!module.empty() && name != module) continue;
        for (const std::string& p : parameters) {
            const auto it = values_.find(name + ":" + p);
            if (it != values_.end()) Queue(c, FormatMessage("update", name + ":" + p, &it->second));
        }
    }
    if (module.empty()) {
        c.AllActive = true;
        Queue(c, "active\n");
    } else {
        c.ActiveModules.insert(module);
        Queue(c, FormatMessage("active", module));
    }
}

}  // namespace moirex::secop
