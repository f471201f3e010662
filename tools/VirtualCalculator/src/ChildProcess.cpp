#include "ChildProcess.h"

#include "ElfNeeds.h"

#include <csignal>
#include <cstring>
#include <glib-unix.h>
#include <glib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char preloadLibrary[] = "libumockdev-preload.so.0";
constexpr const char asanRuntimePrefix[] = "libasan.so";
constexpr const char asanLinkOrderOption[] = "verify_asan_link_order";

std::string asanRuntimeOf(const std::string& program) {
    gchar* path = g_find_program_in_path(program.c_str());
    if (path == nullptr) {
        return "";
    }
    const std::vector<std::string> needed = neededLibraries(path);
    g_free(path);
    for (const std::string& library : needed) {
        if (library.rfind(asanRuntimePrefix, 0) == 0) {
            return library;
        }
    }
    return "";
}

std::string joined(const std::string& first, const char* rest) {
    return rest == nullptr || *rest == '\0' ? first : first + ":" + rest;
}

struct Waiting {
    GMainLoop* loop;
    GPid child;
    int status;
};

struct Forwarding {
    int signalNumber;
    Waiting* waiting;
};

void onChildExit(GPid /*pid*/, gint waitStatus, gpointer data) {
    Waiting* waiting = static_cast<Waiting*>(data);
    waiting->status =
        WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : WEXITSTATUS(waitStatus);
    g_main_loop_quit(waiting->loop);
}

gboolean forwardSignal(gpointer data) {
    const Forwarding* forwarding = static_cast<Forwarding*>(data);
    kill(forwarding->waiting->child, forwarding->signalNumber);
    return G_SOURCE_CONTINUE;
}

// Runs in the child between fork and exec: an orphaned host would wait on a device that
// no longer answers.
void dieWithParent(gpointer /*data*/) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

std::vector<gchar*> pointersTo(const std::vector<std::string>& strings) {
    std::vector<gchar*> pointers;
    for (const std::string& text : strings) {
        pointers.push_back(const_cast<gchar*>(text.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

} // namespace

std::vector<std::string> childEnvironment(const std::string& testbedRoot,
                                          const std::string& program,
                                          const std::string& alsoPreload,
                                          const std::vector<std::string>& variables) {
    gchar** environment = g_get_environ();
    environment = g_environ_setenv(environment, "UMOCKDEV_DIR", testbedRoot.c_str(), TRUE);
    for (const std::string& variable : variables) {
        const size_t equals = variable.find('=');
        environment = g_environ_setenv(environment, variable.substr(0, equals).c_str(),
                                       variable.substr(equals + 1).c_str(), TRUE);
    }

    std::string preload =
        alsoPreload.empty() ? preloadLibrary : joined(preloadLibrary, alsoPreload.c_str());
    const std::string asanRuntime = asanRuntimeOf(program);
    if (!asanRuntime.empty()) {
        preload = asanRuntime + ":" + preload;
    }
    preload = joined(preload, g_environ_getenv(environment, "LD_PRELOAD"));
    environment = g_environ_setenv(environment, "LD_PRELOAD", preload.c_str(), TRUE);

    // For sanitized programs further down (behind a shell, say) that cannot be given
    // their runtime first; an explicit choice of the caller stays.
    const char* asanOptions = g_environ_getenv(environment, "ASAN_OPTIONS");
    if (asanOptions == nullptr || strstr(asanOptions, asanLinkOrderOption) == nullptr) {
        const std::string option = std::string(asanLinkOrderOption) + "=0";
        environment = g_environ_setenv(environment, "ASAN_OPTIONS",
                                       joined(option, asanOptions).c_str(), TRUE);
    }

    std::vector<std::string> result(environment, environment + g_strv_length(environment));
    g_strfreev(environment);
    return result;
}

int runChild(const std::vector<std::string>& command, const std::vector<std::string>& environment,
             std::string& error) {
    std::vector<gchar*> argv = pointersTo(command);
    std::vector<gchar*> envp = pointersTo(environment);
    const GSpawnFlags flags = static_cast<GSpawnFlags>(
        G_SPAWN_SEARCH_PATH | G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_CHILD_INHERITS_STDIN);
    GPid child = 0;
    GError* gerror = nullptr;
    if (!g_spawn_async(nullptr, argv.data(), envp.data(), flags, dieWithParent, nullptr, &child,
                       &gerror)) {
        error = gerror->message;
        g_error_free(gerror);
        return -1;
    }

    Waiting waiting{g_main_loop_new(nullptr, FALSE), child, -1};
    Forwarding forwardings[] = {{SIGINT, &waiting}, {SIGTERM, &waiting}, {SIGHUP, &waiting}};
    std::vector<guint> sources;
    for (Forwarding& forwarding : forwardings) {
        sources.push_back(g_unix_signal_add(forwarding.signalNumber, forwardSignal, &forwarding));
    }
    g_child_watch_add(child, onChildExit, &waiting);
    g_main_loop_run(waiting.loop);

    for (guint source : sources) {
        g_source_remove(source);
    }
    g_spawn_close_pid(child);
    g_main_loop_unref(waiting.loop);
    return waiting.status;
}
