// The install step puts the driver and its description where indiserver
// and KStars look, and the description names the installed driver.
#include <gtest/gtest.h>
#include <lilxml.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

namespace {

const std::filesystem::path kPrefix = INSTALL_PREFIX;
constexpr std::size_t kParserMessageSize = 1024;  // what lilxml asks of its callers

struct XmlDeleter {
    void operator()(XMLEle* element) const { delXMLEle(element); }
};

std::unique_ptr<XMLEle, XmlDeleter> ReadXml(const std::filesystem::path& path, std::string& error) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "r"), &std::fclose);
    if (!file) {
        error = "cannot open " + path.string();
        return nullptr;
    }
    LilXML* parser = newLilXML();
    char message[kParserMessageSize] = {};
    XMLEle* root = readXMLFile(file.get(), parser, message);
    delLilXML(parser);
    if (root == nullptr) error = message;
    return std::unique_ptr<XMLEle, XmlDeleter>(root);
}

TEST(DriverDescription, InstalledDescriptionListsTheInstalledDriver) {
    const auto driver = kPrefix / INSTALL_BINDIR / "indi_tarnscsi_ccd";
    EXPECT_EQ(access(driver.c_str(), X_OK), 0) << driver;

    std::string error;
    const auto root = ReadXml(kPrefix / INSTALL_DATADIR / "indi_tarnscsi.xml", error);
    ASSERT_TRUE(root) << error;
    EXPECT_STREQ(tagXMLEle(root.get()), "driversList");
    XMLEle* group = findXMLEle(root.get(), "devGroup");
    ASSERT_NE(group, nullptr);
    EXPECT_STREQ(findXMLAttValu(group, "group"), "CCDs");
    XMLEle* device = findXMLEle(group, "device");
    ASSERT_NE(device, nullptr);
    EXPECT_STREQ(findXMLAttValu(device, "label"), DEVICE_NAME);
    XMLEle* executable = findXMLEle(device, "driver");
    ASSERT_NE(executable, nullptr);
    EXPECT_STREQ(pcdataXMLEle(executable), "indi_tarnscsi_ccd");
    EXPECT_STREQ(findXMLAttValu(executable, "name"), DEVICE_NAME);
    XMLEle* version = findXMLEle(device, "version");
    ASSERT_NE(version, nullptr);
    EXPECT_STREQ(pcdataXMLEle(version), VERSION);
}

}  // namespace
