#include "cli.h"

#include <charconv>
#include <stdexcept>

namespace regsim {

const char* const kUsage =
    "usage: register-sim [options]\n"
    "Simulates the population register's SOAP 1.2 service WsPopManSoap on 127.0.0.1.\n"
    "\n"
    "  --port N          port to listen on; 0 (the default) picks a free one.\n"
    "                    The first line on stdout is \"listening 127.0.0.1:PORT\".\n"
    "  --fixture FILE    persons to serve (may be repeated; later files win)\n"
    "  --synthetic N     also serve N generated persons, numbers 19 + ten digits\n"
    "                    (190000000001 ...; odd: cn family, even: PO family)\n"
    "  --delay MS        delay every answer by MS milliseconds\n"
    "  --user U          with --password: the login every GetPerson must carry;\n"
    "  --password P      any other login gets a SOAP fault\n"
    "  --threads N       worker threads (default 16)\n"
    "  --record N        requests kept for GET /control/requests (default 10000)\n"
    "  --help            this text\n"
    "\n"
    "Endpoint: POST /PopmWs/WSPopMan.asmx; WSDL: GET /PopmWs/WSPopMan.asmx?wsdl\n"
    "Control:  POST|GET|DELETE /control/fault, GET /control/requests[?format=json],\n"
    "          GET /control/stats, POST /control/reset, POST /control/shutdown\n";

namespace {

int to_int(const std::string& option, const std::string& value, int low, int high) {
    int v = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), v);
    if (ec != std::errc() || end != value.data() + value.size() || v < low || v > high) {
        throw std::invalid_argument(option + " needs a whole number from " + std::to_string(low) + " to " +
                                    std::to_string(high) + ", not '" + value + "'");
    }
    return v;
}

}  // namespace

CommandLine parse_command_line(const std::vector<std::string>& args) {
    CommandLine cl;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--help" || a == "-h") {
            cl.help = true;
            continue;
        }
        const bool takes_value = a == "--port" || a == "--fixture" || a == "--synthetic" || a == "--delay" ||
                                 a == "--user" || a == "--password" || a == "--threads" || a == "--record";
        if (!takes_value) throw std::invalid_argument("unknown argument '" + a + "'");
        if (i + 1 >= args.size()) throw std::invalid_argument(a + " needs a value");
        const std::string& v = args[++i];
        if (a == "--port") {
            cl.options.port = to_int(a, v, 0, 65535);
        } else if (a == "--fixture") {
            cl.fixtures.push_back(v);
        } else if (a == "--synthetic") {
            cl.synthetic = to_int(a, v, 0, 10000000);
        } else if (a == "--delay") {
            cl.options.delay_ms = to_int(a, v, 0, 600000);
        } else if (a == "--user") {
            cl.options.user = v;
        } else if (a == "--password") {
            cl.options.password = v;
        } else if (a == "--threads") {
            cl.options.threads = to_int(a, v, 1, 1024);
        } else {
            cl.options.record_limit = static_cast<size_t>(to_int(a, v, 0, 100000000));
        }
    }
    if (cl.options.user.has_value() != cl.options.password.has_value()) {
        throw std::invalid_argument("--user and --password go together");
    }
    return cl;
}

}  // namespace regsim
