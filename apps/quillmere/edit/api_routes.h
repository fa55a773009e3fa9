// The requests the page makes of the runner, each a method and a path.
// Every one of them needs the session token: each returns something made
// from the inputs or changes something.
#pragma once

#include <string>

enum class ApiRoute {
    Session,       // the inputs' facts, the settings and what they give
    Picture,       // one main frame composited with the settings, as PNG (with a width: scaled, as JPEG)
    Readouts,      // the read-outs of a mask being dragged
    Settings,      // change settings
    Mask,          // a mask released after a drag: ordered, cut to the picture
    Save,          // write the settings file named at start
    Render,        // start rendering to the output named at start
    RenderStatus,  // the render's progress
    RenderCancel,  // stop the render, leaving nothing behind
    Quit,          // stop the runner
    Events,        // the session's state as server-sent events, as it changes
};

struct ApiRouteRow {
    ApiRoute route;
    const char* method;
    const char* path;
};

// The routes, one row each.
extern const ApiRouteRow kApiRoutes[];
extern const int kApiRouteCount;

// The request header that carries the session token.
constexpr const char* kTokenHeader = "X-Quillmere-Token";
// Where the API's paths start.
constexpr const char* kApiPrefix = "/api/";

// The row of `method` on `path`, or null when no route has them.
const ApiRouteRow* FindApiRoute(const std::string& method, const std::string& path);
// Whether any route has `path`, whatever its method.
bool IsApiPath(const std::string& path);
