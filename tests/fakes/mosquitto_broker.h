#pragma once

#include "child_process.h"
#include "free_port.h"
#include "run_program.h"
#include "temp_dir.h"

#include <fstream>
#include <map>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <string>

namespace mirv::test {

// A mosquitto broker of the test's own on two free loopback ports: `port` plain, `tlsPort`
// with a certificate for 127.0.0.1 signed by a certificate authority made here (`caFile`).
// Both ask for the user `user` with the password in `passwordFile`. Nothing is kept on disk, so
// a restart forgets every retained message.
class MosquittoBroker {
  public:
    const std::string user = "station";
    const std::string password = "s3cret-pass";
    int port = freeLoopbackPort();
    int tlsPort = freeLoopbackPort();

    MosquittoBroker() {
        const std::string d = dir_.str();
        caFile = d + "/ca.pem";
        passwordFile = d + "/password";
        std::ofstream(passwordFile) << password << "\n";
        sh("mosquitto_passwd -b -c " + d + "/passwd " + user + " " + password);
        sh("cd " + d +
           " && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=test-ca "
           "-keyout ca.key -out ca.pem && "
           "openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout server.key "
           "-out server.csr && "
           "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > san.ext && "
           "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 "
           "-extfile san.ext -out server.pem");
        std::ofstream(d + "/mosquitto.conf")
            // As root it would become the user mosquitto, who cannot read the test's folder.
            << "user " << ::getpwuid(::getuid())->pw_name << "\n"
            << "per_listener_settings false\nallow_anonymous false\npassword_file " << d
            << "/passwd\npersistence false\n"
            << "listener " << port << " 127.0.0.1\n"
            << "listener " << tlsPort << " 127.0.0.1\ncafile " << caFile << "\ncertfile " << d
            << "/server.pem\nkeyfile " << d << "/server.key\n";
        start();
    }

    void start() {
        process_.start(withLog({"mosquitto", "-c", dir_.str() + "/mosquitto.conf"},
                               dir_.str() + "/broker.log", true));
        // Ready once a client gets through.
        for (int i = 0; i < 100; ++i) {
            if (runProgram({"/usr/bin/mosquitto_pub", "-h", "127.0.0.1", "-p", std::to_string(port),
                            "-u", user, "-P", password, "-t", "ready", "-m", "x"})
                    .status == 0)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        throw std::runtime_error("mosquitto did not start: " + log());
    }
    void kill() { process_.stop(SIGKILL); }

    // What the broker logged so far.
    std::string log() const {
        std::ifstream in(dir_.str() + "/broker.log");
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // The retained messages under `filter`, topic to payload, read by an independent client.
    std::map<std::string, std::string> retained(const std::string& filter) const {
        const auto run = runProgram({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p",
                                     std::to_string(port), "-u", user, "-P", password, "-t", filter,
                                     "--retained-only", "-W", "1", "-F", "%t %p"});
        std::map<std::string, std::string> messages;
        std::istringstream lines(run.out);
        for (std::string line; std::getline(lines, line);) {
            const auto space = line.find(' ');
            messages[line.substr(0, space)] =
                space == std::string::npos ? "" : line.substr(space + 1);
        }
        return messages;
    }

    std::string caFile;
    std::string passwordFile;

  private:
    static void sh(const std::string& command) {
        if (runProgram({"/bin/sh", "-c", command + " >/dev/null 2>&1"}).status != 0)
            throw std::runtime_error("failed: " + command);
    }

    TempDir dir_;
    ChildProcess process_;
};

} // namespace mirv::test
