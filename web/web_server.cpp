#include "web_server.h"

#include "web_api.h"
#include "web_users.h"

#include <QFile>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <fstream>
#include <httplib.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

// The pages are built into the static library: they are there once this has run.
static void loadWebPages() {
    Q_INIT_RESOURCE(web_pages);
}

namespace mirv {

namespace {

using namespace std::chrono_literals;

constexpr const char* kCookie = "mirv_session";
constexpr int kThreads = 64;
// Event streams hold a thread each while a page is open: these many at most, so that other
// requests always find threads.
constexpr int kMostStreams = 12;
constexpr std::size_t kMostBody = 16 * 1024;
constexpr auto kStreamQuiet = 15s;

// The server's threads run below the station's priority, so that however busy the pages keep
// them the polls come first.
class GentleThreads : public httplib::TaskQueue {
  public:
    explicit GentleThreads(int count) {
        for (int i = 0; i < count; ++i)
            threads_.emplace_back([this] { work(); });
    }
    void enqueue(std::function<void()> fn) override {
        {
            std::lock_guard lock(mutex_);
            jobs_.push_back(std::move(fn));
        }
        ready_.notify_one();
    }
    void shutdown() override {
        {
            std::lock_guard lock(mutex_);
            down_ = true;
        }
        ready_.notify_all();
        for (std::thread& t : threads_)
            t.join();
    }

  private:
    void work() {
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid)), 10);
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock lock(mutex_);
                ready_.wait(lock, [this] { return down_ || !jobs_.empty(); });
                if (jobs_.empty())
                    return;
                fn = std::move(jobs_.front());
                jobs_.pop_front();
            }
            fn();
        }
    }
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> jobs_;
    std::mutex mutex_;
    std::condition_variable ready_;
    bool down_ = false;
};

std::string resource(const char* name) {
    QFile file(QStringLiteral(":/web/") + QString::fromLatin1(name));
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}

std::string fileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string sessionToken(const httplib::Request& req) {
    const std::string cookies = req.get_header_value("Cookie");
    const std::string wanted = std::string(kCookie) + "=";
    std::size_t at = 0;
    while (at < cookies.size()) {
        const std::size_t end = std::min(cookies.find(';', at), cookies.size());
        std::string part = cookies.substr(at, end - at);
        part.erase(0, part.find_first_not_of(' '));
        if (part.rfind(wanted, 0) == 0)
            return part.substr(wanted.size());
        at = end + 1;
    }
    return {};
}

PeriodQuery periodOf(const httplib::Request& req) {
    return {req.get_param_value("from"), req.get_param_value("to"), req.get_param_value("meter")};
}

std::string escapedHtml(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '&':
            out += "&amp;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

} // namespace

WebServer::WebServer(SnapshotBox& box, WebServerSetup setup) : box_(box), setup_(std::move(setup)) {
    loadWebPages();
    pages_["/login"] = {"text/html; charset=utf-8", resource("login.html")};
    pages_["/"] = {"text/html; charset=utf-8", resource("index.html")};
    pages_["/app.js"] = {"text/javascript; charset=utf-8", resource("app.js")};
    pages_["/style.css"] = {"text/css; charset=utf-8", resource("style.css")};
    pages_["/chart.min.js"] = {"text/javascript; charset=utf-8", fileBytes(MIRV_CHART_JS)};
    if (tls())
        server_ =
            std::make_unique<httplib::SSLServer>(setup_.certificate.c_str(), setup_.key.c_str());
    else
        server_ = std::make_unique<httplib::Server>();
}

WebServer::~WebServer() {
    stop();
}

void WebServer::stop() {
    stopping_ = true;
    box_.close();
    if (server_)
        server_->stop();
    if (thread_.joinable())
        thread_.join();
}

std::optional<std::string> WebServer::start() {
    if (!server_->is_valid())
        return "cannot use the certificate " + setup_.certificate + " with the key " + setup_.key;
    route();
    if (setup_.port == 0) {
        port_ = server_->bind_to_any_port(setup_.listen);
        if (port_ < 0)
            return "cannot listen on " + setup_.listen + ": " + std::strerror(errno);
    } else {
        if (!server_->bind_to_port(setup_.listen, setup_.port))
            return "cannot listen on " + setup_.listen + " port " + std::to_string(setup_.port) +
                   ": " + std::strerror(errno);
        port_ = setup_.port;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A server stopped before it runs would not see the stop: it runs before start() returns.
    for (int i = 0; i < 500 && !server_->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return std::nullopt;
}

void WebServer::route() {
    httplib::Server& s = *server_;
    s.new_task_queue = [] { return new GentleThreads(kThreads); };
    s.set_payload_max_length(kMostBody);
    s.set_read_timeout(5, 0);
    s.set_write_timeout(5, 0);
    s.set_keep_alive_timeout(5);
    s.set_keep_alive_max_count(20);
    s.set_default_headers({
        {"X-Frame-Options", "DENY"},
        {"X-Content-Type-Options", "nosniff"},
        {"Content-Security-Policy",
         "default-src 'self'; style-src 'self' 'unsafe-inline'; img-src 'self' data:; "
         "frame-ancestors 'none'; form-action 'self'; base-uri 'none'"},
        {"Referrer-Policy", "no-referrer"},
        {"Cache-Control", "no-store"},
    });

    // Everything but the login page needs a live session; nothing changes the station, so
    // the only other method is POST to log in and out.
    s.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
        const bool post = req.method == "POST";
        if (req.method != "GET" && req.method != "HEAD" && !post) {
            res.status = 405;
            res.set_header("Allow", "GET, HEAD, POST");
            return httplib::Server::HandlerResponse::Handled;
        }
        if (req.path == "/login" || (post && req.path == "/logout"))
            return httplib::Server::HandlerResponse::Unhandled;
        if (post) {
            res.status = 405;
            return httplib::Server::HandlerResponse::Handled;
        }
        const std::string token = sessionToken(req);
        if (!token.empty() && sessions_.user(token, WebSessions::Clock::now()))
            return httplib::Server::HandlerResponse::Unhandled;
        if (req.path.rfind("/api/", 0) == 0) {
            res.status = 401;
            res.set_content(R"({"error":"请先登录"})", "application/json");
        } else {
            res.status = 303;
            res.set_header("Location", "/login");
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    auto servePage = [this](const httplib::Request& req, httplib::Response& res) {
        const Page& page = pages_.at(req.path);
        res.set_content(page.bytes, page.type.c_str());
    };
    for (const char* path : {"/", "/app.js", "/style.css", "/chart.min.js"})
        s.Get(path, servePage);

    auto loginPage = [this](httplib::Response& res, int status, const std::string& said) {
        std::string html = pages_.at("/login").bytes;
        const std::string mark = "<!--said-->";
        if (const auto at = html.find(mark); at != std::string::npos)
            html.replace(at, mark.size(), escapedHtml(said));
        res.status = status;
        res.set_content(html, "text/html; charset=utf-8");
    };
    s.Get("/login", [loginPage](const httplib::Request&, httplib::Response& res) {
        loginPage(res, 200, "");
    });
    s.Post("/login", [this, loginPage](const httplib::Request& req, httplib::Response& res) {
        const std::string user = req.get_param_value("user");
        {
            // One password check at a time: each is slow on purpose and takes much memory. The
            // limit is asked under the same lock, so that tries sent at once count one by one.
            std::lock_guard lock(loginMutex_);
            const auto wait = limit_.waitFor(req.remote_addr, LoginLimit::Clock::now());
            if (wait.count() > 0) {
                res.set_header("Retry-After", std::to_string(wait.count()));
                return loginPage(res, 429, "登录失败次数过多，请稍后再试");
            }
            if (!checkWebUser(setup_.usersPath, user, req.get_param_value("password"))) {
                limit_.failed(req.remote_addr, LoginLimit::Clock::now());
                return loginPage(res, 401, "用户名或密码错误");
            }
            limit_.succeeded(req.remote_addr);
        }
        const std::string token = sessions_.open(user, WebSessions::Clock::now());
        res.set_header("Set-Cookie", std::string(kCookie) + "=" + token +
                                         "; Path=/; HttpOnly; SameSite=Strict" +
                                         (tls() ? "; Secure" : ""));
        res.status = 303;
        res.set_header("Location", "/");
    });
    s.Post("/logout", [this](const httplib::Request& req, httplib::Response& res) {
        sessions_.close(sessionToken(req));
        res.set_header("Set-Cookie", std::string(kCookie) +
                                         "=; Path=/; HttpOnly; SameSite=Strict; Max-Age=0" +
                                         (tls() ? "; Secure" : ""));
        res.status = 303;
        res.set_header("Location", "/login");
    });

    s.Get("/api/board", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(*box_.board(), "application/json");
    });
    s.Get("/api/line", [this](const httplib::Request&, httplib::Response& res) {
        res.set_content(*box_.line(), "application/json");
    });
    s.Get("/api/events", [this](const httplib::Request&, httplib::Response& res) {
        if (++streams_ > kMostStreams) {
            --streams_;
            res.status = 503;
            res.set_header("Retry-After", "10");
            return;
        }
        struct Stream {
            bool started = false;
            std::uint64_t seen = 0;
        };
        auto stream = std::make_shared<Stream>();
        res.set_chunked_content_provider(
            "text/event-stream",
            [this, stream](std::size_t, httplib::DataSink& sink) {
                SnapshotBox::Text board;
                if (!stream->started) {
                    // The board as it stands first, then each newer one.
                    stream->started = true;
                    stream->seen = box_.boardVersion();
                    board = box_.board();
                } else {
                    board = box_.waitBoard(stream->seen, kStreamQuiet);
                }
                if (stopping_ || box_.closed())
                    return false;
                // A comment now and then finds out a browser that has gone.
                const std::string event =
                    board ? "event: board\ndata: " + *board + "\n\n" : std::string(": quiet\n\n");
                return sink.write(event.data(), event.size());
            },
            [this](bool) { --streams_; });
    });

    auto fromDatabase = [this](auto answer) {
        return [this, answer](const httplib::Request& req, httplib::Response& res) {
            ApiAnswer a;
            {
                // One reading of the database at a time: the pages must not crowd out the
                // station's own writes.
                std::lock_guard lock(databaseMutex_);
                a = answer(req);
            }
            res.status = a.status;
            res.set_content(a.body, a.contentType.c_str());
        };
    };
    s.Get("/api/energy", fromDatabase([this](const httplib::Request& req) {
              return energyAnswer(setup_.databasePath, periodOf(req), false);
          }));
    s.Get("/api/energy.csv", fromDatabase([this](const httplib::Request& req) {
              ApiAnswer a = energyAnswer(setup_.databasePath, periodOf(req), true);
              return a;
          }));
    s.Get("/api/quantities", [](const httplib::Request&, httplib::Response& res) {
        const ApiAnswer a = quantitiesAnswer();
        res.set_content(a.body, a.contentType.c_str());
    });
    s.Get("/api/trend", fromDatabase([this](const httplib::Request& req) {
              int quantity = -1;
              try {
                  quantity = std::stoi(req.get_param_value("quantity"));
              } catch (const std::exception&) {
              }
              return trendAnswer(setup_.databasePath, periodOf(req), quantity);
          }));
    s.Get("/api/journal", fromDatabase([this](const httplib::Request& req) {
              return journalAnswer(setup_.databasePath, periodOf(req));
          }));
    s.set_post_routing_handler([](const httplib::Request& req, httplib::Response& res) {
        if (req.path == "/api/energy.csv" && res.status == 200)
            res.set_header("Content-Disposition", "attachment; filename=\"energy.csv\"");
    });
    s.set_exception_handler(
        [](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
            res.status = 500;
            res.set_content(R"({"error":"内部错误"})", "application/json");
        });
}

} // namespace mirv
