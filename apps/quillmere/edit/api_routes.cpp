#include "apps/quillmere/edit/api_routes.h"

const ApiRouteRow kApiRoutes[] = {
    {ApiRoute::Session, "GET", "/api/session"},
    {ApiRoute::Picture, "GET", "/api/picture"},
    {ApiRoute::Readouts, "GET", "/api/readouts"},
    {ApiRoute::Settings, "POST", "/api/settings"},
    {ApiRoute::Mask, "POST", "/api/mask"},
    {ApiRoute::Save, "POST", "/api/save"},
    {ApiRoute::Render, "POST", "/api/render"},
    {ApiRoute::RenderStatus, "GET", "/api/render"},
    {ApiRoute::RenderCancel, "POST", "/api/render/cancel"},
    {ApiRoute::Quit, "POST", "/api/quit"},
    {ApiRoute::Events, "GET", "/api/events"},
};
const int kApiRouteCount = sizeof(kApiRoutes) / sizeof(kApiRoutes[0]);

const ApiRouteRow* FindApiRoute(const std::string& method, const std::string& path) {
    for (const ApiRouteRow& row : kApiRoutes) {
        if (method == row.method && path == row.path) {
            return &row;
        }
    }
    return nullptr;
}

bool IsApiPath(const std::string& path) {
    for (const ApiRouteRow& row : kApiRoutes) {
        if (path == row.path) {
            return true;
        }
    }
    return false;
}
