// Small sites that the crawl tests serve: a plain site, a site of bad pages and broken
// replies, and a modern site (style sheets, media tags, blanks in names).
#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_http_server.h"

namespace pellix::test {

// A 1 x 1 red GIF; the bytes after its trailer (each image's own name) are ignored by browsers.
inline std::string RedDot()
{
    static const unsigned char kGif[] = {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0, 0xff, 0, 0, 0, 0, 0,
                                         ',', 0, 0, 0, 0, 1, 0, 1, 0, 0, 2, 2, 'D', 1, 0, ';'};
    return std::string(reinterpret_cast<const char*>(kGif), sizeof kGif);
}

// A small site: pages in two folders, images, a frame, an image map, links that must stay.
inline void ServeSite(TTestHttpServer& server, std::chrono::milliseconds imageDelay = std::chrono::milliseconds(0))
{
    server.Route("/index.html")
        .Header("Content-Type", "text/html")
        .Body("<html><head><title>Home</title></head><body>\n"
              "<img src=\"pics/logo.gif\" width=120 height=40><a href=\"a.html\">A</a> <a href=\"sub/b.html\">B</a>\n"
              "<a href=\"#top\">top</a> <a href=\"mailto:me@example.net\">mail</a>\n"
              "<img src=\"pics/map.gif\" usemap=\"#m\"><map name=\"m\"><area href=\"sub/c.html\"></map>\n"
              "<a href=\"frames.html\">frames</a></body></html>");
    server.Route("/a.html").Body(
        "<html><body background=\"pics/bg.gif\"><a href=\"index.html\">home</a>"
        "<a href=\"sub/b.html#x\">b</a><img src=\"/pics/a.gif\"></body></html>");
    server.Route("/sub/b.html").Body(
        "<html><body><a href=\"../a.html\">a</a><a href=\"c.html\">c</a><img src=\"../pics/b.gif\"></body></html>");
    server.Route("/sub/c.html").Body(
        "<html><head><link rel=stylesheet href=\"style.css\"></head><body><img src=\"c.gif\"></body></html>");
    server.Route("/sub/style.css").Body("body { color: black }");
    server.Route("/frames.html").Body(
        "<html><frameset><frame src=\"left.html\"><frame src=\"sub/b.html\"></frameset></html>");
    server.Route("/left.html").Body("<html><body><a href=\"a.html\" target=right>a</a></body></html>");
    for (const char* image : {"/pics/logo.gif", "/pics/map.gif", "/pics/bg.gif", "/pics/a.gif",
                              "/pics/b.gif", "/sub/c.gif"}) {
        server.Route(image).Header("Content-Type", "image/gif").Body(RedDot() + image).Delay(imageDelay);
    }
}

// Pages that are malformed or huge, redirect loops, a redirect to ftp, a reset, a missing page.
inline void ServeBrokenSite(TTestHttpServer& server)
{
    std::string nul = "<body><a href=\"x.html\">x</a>";
    nul += std::string(4, '\0');
    nul += "</body>";
    server.Route("/index.html").Body(
        "<body><a href=\"unclosed.html\">1</a><a href=\"lt.html\">2</a><a href=\"huge.html\">3</a>"
        "<a href=\"nul.html\">4</a><a href=\"long.html\">5</a><a href=\"loop.html\">6</a>"
        "<a href=\"ftp.html\">7</a><a href=\"reset.html\">8</a><a href=\"missing.html\">9</a></body>");
    server.Route("/unclosed.html").Body("<html><body><a href=\"x.html\">x<img src=\"y.gif\"<a href=\"z");
    server.Route("/lt.html").Body("<body><a href=\"x.html\">x</a></body><");
    server.Route("/huge.html").Body("<body><img alt=\"" + std::string(10 << 20, 'a') + "\" src=\"y.gif\"></body>");
    server.Route("/nul.html").Body(nul);
    server.Route("/long.html").Body("<body><a href=\"" + std::string(100 << 10, 'q') + ".html\">q</a></body>");
    server.Route("/loop.html").Status(302).Header("Location", "/loop.html");
    server.Route("/ftp.html").Status(301).Header("Location", "ftp://127.0.0.1/file");
    server.Route("/reset.html").Adjust([](const TReceivedRequest& request, TRoute& route) {
        route.mode = request.method == "HEAD" ? TReplyMode::Whole : TReplyMode::Reset;
    });
    server.Route("/x.html").Body("<body>x</body>");
    server.Route("/y.gif").Body("GIF89a");
}

// Request target -> body. Every one must be fetched, and nothing else may be asked for.
inline const std::vector<std::pair<std::string, std::string>> kModernSite = {
    {"/index.html",
     "<html><head><title>Modern</title>\n"
     "<link rel=\"stylesheet\" href=\"css/site.css\">\n"
     "<script data-url_root=\"./\" src=\"js/app.js\"></script>\n"
     "<style>body { background: url(img/block.png) }</style></head>\n"
     "<body><p style=\"background: url('img/attr.png')\">styled</p>\n"
     "<a href=\"docs/Visual Studio 10.rst.txt\">notes</a>\n"
     "<a href=\"about:tracing\">tracing</a> <a href=\"javascript:void(0)\">js</a>\n"
     "<iframe src=\"frame.html\"></iframe>\n"
     "<video poster=\"img/poster.png\"><source src=\"media/clip.webm\" type=\"video/webm\"></video>\n"
     "</body></html>"},
    {"/docs/Visual%20Studio%2010.rst.txt", "plain text"},
    {"/css/site.css", "@import \"more.css\";\nbody { color: black; background-image: url(../img/site.png) }\n"},
    {"/css/more.css", ".x { background: url(\"../img/more image.png\") }\n"},
    {"/js/app.js", "var root = document.getElementById('x');\n"},
    {"/frame.html", "<html><body><a href=\"index.html\">home</a></body></html>"},
    {"/media/clip.webm", "webm bytes"},
    {"/img/block.png", "png"},
    {"/img/attr.png", "png"},
    {"/img/site.png", "png"},
    {"/img/more%20image.png", "png"},
    {"/img/poster.png", "png"},
};

inline void ServeModernSite(TTestHttpServer& server)
{
    for (const auto& [target, body] : kModernSite)
        server.Route(target).Body(body);
}

} // namespace pellix::test
