// The camera page at / : a live view of the camera for a browser at the
// telescope. The page itself (alpaca/page/) is built into the program; it
// asks the server for
//   GET /page/status    connection, identity, exposure, cooler (polled)
//   GET /page/cooling   the cooler's last hour
//   GET /page/frame     the last frame's statistics and histogram
//   GET /page/frame.png the stretched preview of it
//   GET /page/frame.fits the FITS file of it
// (each of the frame ?frame=N names, while the server keeps it)
// and acts through PUT /page/{connect,cooler,expose,abort} with a form body.
// Every value comes from the server's one CameraDevice and every control is
// one of its public operations, so the page and Alpaca clients see one
// camera, and the page can do nothing an Alpaca client could not. Its
// controls are PUTs so that another site's page cannot send them without
// the browser first asking this server, which never agrees (no CORS).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "camera_device.h"
#include "cooling_history.h"
#include "frame_preview.h"
#include "http_routes.h"
#include "server_options.h"

namespace tarnscsi::alpaca {

inline constexpr char kPageControlPrefix[] = "/page/";

class CameraPage {
public:
    CameraPage(CameraDevice& device, const ServerOptions& options);

    // The GET routes, on the server the Alpaca API uses.
    void Route(HttpRoutes& routes);
    // A PUT under kPageControlPrefix, its form already read.
    void Control(const std::string& path, const std::string& form, HttpResponse& response);

    // Where the device's readings go.
    CoolingHistory& History() { return history; }

    // Statistics and preview of the last frame, made once per frame.
    struct Prepared {
        std::shared_ptr<const Image> image;
        imaging::FrameSummary summary;
        std::vector<std::uint8_t> png;
    };

private:
    std::string StatusJson();
    std::string CoolingJson();
    // Null when there is no frame; `why` then says why not.
    std::shared_ptr<const Prepared> LastFrame(std::string& why);
    // The frame numbered `id` ("": the newest), or null with `why`.
    std::shared_ptr<const Prepared> FrameNamed(const std::string& id, std::string& why);
    Failure Expose(const class RequestParameters& form);
    Failure Cooler(const class RequestParameters& form);

    CameraDevice& device;
    const ServerOptions& options;
    CoolingHistory history;

    std::mutex mutex;  // guards what follows
    // The newest frame prepared, kept while the next exposure runs.
    std::shared_ptr<const Prepared> prepared;
};

}  // namespace tarnscsi::alpaca
