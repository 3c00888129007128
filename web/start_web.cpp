#include "start_web.h"

#include "self_signed.h"
#include "web_config.h"
#include "web_users.h"

#include <QCoreApplication>
#include <QFile>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <termios.h>
#include <unistd.h>

namespace mirv {

namespace {

void say(const std::string& text) {
    std::fprintf(stderr, "%s: web: %s\n", qPrintable(QCoreApplication::applicationName()),
                 text.c_str());
}

std::string inFolder(const std::string& folder, const std::string& path) {
    return path.empty() || path.front() == '/' ? path : folder + "/" + path;
}

std::string readPassword() {
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved{};
    if (terminal) {
        std::fputs("password: ", stderr);
        ::tcgetattr(STDIN_FILENO, &saved);
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSANOW, &saved);
        std::fputs("\n", stderr);
    }
    return password;
}

} // namespace

std::unique_ptr<WebService> startWeb(StationEngine& engine, const QString& programDir) {
    const std::string folder = QFile::encodeName(programDir).toStdString();
    const std::string path = folder + "/web.conf";
    if (!std::filesystem::exists(path))
        return nullptr;
    auto refuse = [&](const std::string& problem) {
        say(problem + "; no web pages");
        if (engine.message().isEmpty())
            engine.setMessage(problem);
        return nullptr;
    };
    const WebConfigResult loaded = loadWebConfig(path);
    if (const auto* problem = std::get_if<WebConfigProblem>(&loaded))
        return refuse(problem->message);
    const WebConfig& config = std::get<WebConfig>(loaded);
    WebServerSetup setup;
    setup.listen = config.listen;
    setup.port = config.port;
    setup.usersPath = folder + "/" + kWebUsersFile;
    setup.databasePath = QFile::encodeName(engine.databasePath()).toStdString();
    if (!config.certificate.empty()) {
        setup.certificate = inFolder(folder, config.certificate);
        setup.key = inFolder(folder, config.key);
        const std::string fingerprint = certificateFingerprint(setup.certificate);
        if (fingerprint.empty())
            return refuse("cannot read the certificate " + setup.certificate);
        say("certificate " + setup.certificate + ", SHA-256 fingerprint " + fingerprint);
    } else if (!isLoopback(config.listen)) {
        std::string error;
        const auto own = selfSignedCertificate(folder, config.listen, error);
        if (!own)
            return refuse(error);
        setup.certificate = own->certificate;
        setup.key = own->key;
        say("self-signed certificate " + own->certificate + ", SHA-256 fingerprint " +
            own->fingerprint);
    }
    if (!std::filesystem::exists(setup.usersPath))
        say("no users yet: add one with mirv-stationd --add-web-user NAME");
    // A browser that goes away while a TLS record is written would otherwise end the station
    // with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    const bool tls = !setup.certificate.empty();
    auto web = std::make_unique<WebService>(engine, std::move(setup));
    if (auto failed = web->server.start())
        return refuse(*failed);
    say(std::string("serving ") + (tls ? "https://" : "http://") + config.listen + ":" +
        std::to_string(web->server.port()) + "/");
    return web;
}

std::optional<int> addWebUserCommand(int argc, char** argv, const std::string& programDir) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--add-web-user") != 0)
            continue;
        if (i + 1 >= argc) {
            std::fputs("mirv-stationd: --add-web-user needs a user name\n", stderr);
            return 2;
        }
        const std::string name = argv[i + 1];
        if (!isWebUserName(name)) {
            std::fprintf(stderr,
                         "mirv-stationd: '%s' is no user name: 1 to 32 letters, digits, '.', "
                         "'_' or '-'\n",
                         name.c_str());
            return 2;
        }
        const std::string path = programDir + "/" + kWebUsersFile;
        if (auto failed = addWebUser(path, name, readPassword())) {
            std::fprintf(stderr, "mirv-stationd: %s\n", failed->c_str());
            return 1;
        }
        std::fprintf(stderr, "mirv-stationd: %s may log in to the web pages\n", name.c_str());
        return 0;
    }
    return std::nullopt;
}

} // namespace mirv
