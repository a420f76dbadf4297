#include "alpaca_client.h"

#include "sim/sim_control.h"

namespace tarnscsi::alpaca_test {
namespace {

constexpr auto kTimeout = std::chrono::seconds(30);

Answer Read(const httplib::Result& result) {
    Answer answer;
    if (!result) return answer;
    answer.status = result->status;
    answer.body = result->body;
    answer.contentType = result->get_header_value("Content-Type");
    if (answer.contentType.find("application/json") != std::string::npos) {
        answer.json = nlohmann::json::parse(answer.body, nullptr, false);
    }
    return answer;
}

}  // namespace

void AlpacaFixture::SetUp() {
    SimReset();
    SimSetManualClock(1);
    alpaca::ServerOptions options;
    options.listen = kLoopback;
    options.port = 0;
    options.discoveryPort = 0;
    options.version = "test";
    options.simulated = true;
    server = std::make_unique<alpaca::AlpacaServer>(options);
    ASSERT_EQ(server->Start(), "");
    client = std::make_unique<httplib::Client>(kLoopback, server->Port());
    client->set_read_timeout(kTimeout);
    client->set_connection_timeout(kTimeout);
}

void AlpacaFixture::TearDown() {
    client.reset();
    server.reset();
    SimReset();
}

Answer AlpacaFixture::Get(const std::string& member, const std::string& query, const std::string& accept) {
    httplib::Headers headers;
    if (!accept.empty()) headers.emplace("Accept", accept);
    return Read(client->Get(kApi + member + (query.empty() ? "" : "?" + query), headers));
}

Answer AlpacaFixture::Put(const std::string& member, const std::string& body) {
    return Read(client->Put(kApi + member, body, "application/x-www-form-urlencoded"));
}

Answer AlpacaFixture::Raw(const std::string& path) { return Read(client->Get(path)); }

void AlpacaFixture::Set(const std::string& member, const std::string& body) {
    const Answer answer = Put(member, body);
    ASSERT_EQ(answer.status, 200) << member << ": " << answer.body;
    ASSERT_EQ(answer.Error(), 0) << member << ": " << answer.body;
}

void AlpacaFixture::Connect() { Set("connected", "Connected=True"); }

void AlpacaFixture::Advance(double seconds) { SimAdvanceClock(static_cast<std::uint64_t>(seconds * 1e6)); }

std::vector<std::uint16_t> RowsOf(const nlohmann::json& value, int& width, int& height) {
    width = static_cast<int>(value.size());
    height = width > 0 ? static_cast<int>(value[0].size()) : 0;
    std::vector<std::uint16_t> rows(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y)
            rows[static_cast<std::size_t>(y) * width + x] = value[x][y].get<std::uint16_t>();
    }
    return rows;
}

std::uint32_t LittleEndian32(const std::string& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + i])) << (8 * i);
    return value;
}

}  // namespace tarnscsi::alpaca_test
