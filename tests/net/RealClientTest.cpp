// Real HTTP clients against the server: curl against the test server program,
// Python's http.client against an in-process server.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "tests/net/ServerFixture.h"
#include "tests/support/TempFolder.h"

namespace {

bool haveProgram(const std::string& name) {
    return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, n);
    pclose(pipe);
    return output;
}

// The test server program in a child process; reads the port it reports.
class ServerProcess {
  public:
    ServerProcess() {
        int output[2];
        if (pipe(output) != 0)
            return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(output[1], STDOUT_FILENO);
            ::close(output[0]);
            ::close(output[1]);
            std::string program = std::string(VS_BIN_DIR) + "/vs_test_http_server";
            execl(program.c_str(), program.c_str(), "0", static_cast<char*>(nullptr));
            _exit(127);
        }
        ::close(output[1]);
        FILE* reader = fdopen(output[0], "r");
        unsigned value = 0;
        if (reader != nullptr && fscanf(reader, "port %u", &value) == 1)
            port_ = value;
        if (reader != nullptr)
            fclose(reader);
    }
    ~ServerProcess() { stop(); }
    // The exit status after SIGTERM: 0 when the server stopped cleanly.
    int stop() {
        if (pid_ <= 0)
            return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    unsigned port() const { return port_; }

  private:
    pid_t pid_ = -1;
    unsigned port_ = 0;
};

}  // namespace

TEST(RealClients, CurlKeepsTheConnectionAndSendsLargeBodiesAfterContinue) {
    if (!haveProgram("curl"))
        GTEST_SKIP() << "curl not installed";
    ServerProcess server;
    ASSERT_NE(0u, server.port());
    std::string base = "http://127.0.0.1:" + std::to_string(server.port());

    std::string verbose = runCommand("curl -sv " + base + "/version " + base + "/VERSION 2>&1");
    EXPECT_NE(std::string::npos, verbose.find("Re-using existing connection"));
    EXPECT_EQ(2u, [&] {
        size_t count = 0;
        for (size_t at = 0; (at = verbose.find("< HTTP/1.1 200 OK", at)) != std::string::npos; ++at)
            ++count;
        return count;
    }());

    TempFolder folder;
    std::string body;
    for (int i = 0; i < 3000000; ++i)
        body.push_back(static_cast<char>(i * 7 % 251));
    std::ofstream(folder.file("body.bin"), std::ios::binary) << body;
    std::string echoed = runCommand("curl -sS -H 'Expect: 100-continue' --data-binary @" +
                                    folder.file("body.bin") + " " + base + "/post_wl_updates");
    EXPECT_TRUE(echoed == body) << echoed.size();

    std::string failure = runCommand("curl -s -o /dev/null -w '%{http_code}' " + base + "/x");
    EXPECT_EQ("500", failure);
    EXPECT_EQ(0, server.stop());
}

TEST_F(ServerTest, PythonHttpClientKeepsTheConnectionAcrossRequests) {
    if (!haveProgram("python3"))
        GTEST_SKIP() << "python3 not installed";
    std::string script =
        "import http.client, zlib\n"
        "c = http.client.HTTPConnection('127.0.0.1', " +
        std::to_string(port) +
        ")\n"
        "for i in range(3):\n"
        "    c.request('GET', '/version')\n"
        "    r = c.getresponse()\n"
        "    assert r.status == 200 and r.read() == b'1.0'\n"
        "first = c.sock\n"
        "c.request('POST', '/post_wl_updates', body=b'x' * 100000)\n"
        "r = c.getresponse()\n"
        "assert r.read() == b'x' * 100000 and r.getheader('newIndex') == '100000'\n"
        "c.request('POST', '/post_ts_updates', body=b'abc' * 1000)\n"
        "r = c.getresponse()\n"
        "assert r.getheader('Content-Encoding') == 'gzip'\n"
        "assert zlib.decompress(r.read()) == b'abc' * 1000\n"
        "assert c.sock is first\n"
        "c.request('GET', '/missing')\n"
        "r = c.getresponse()\n"
        "assert r.status == 500 and r.read() == b'' and r.will_close\n"
        "print('ok')\n";
    TempFolder folder;
    std::ofstream(folder.file("client.py")) << script;
    EXPECT_EQ("ok\n", runCommand("python3 " + folder.file("client.py") + " 2>&1"));
    // Every request came over the one connection.
    std::vector<uint32_t> ids = server.sessionIds();
    ASSERT_EQ(6u, ids.size());
    EXPECT_EQ(std::vector<uint32_t>(6, ids.front()), ids);
}
