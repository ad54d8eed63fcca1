/* The least a showstatus run can cost: load the supervisor library, read the devices from it, write the lines. */
/*
 * usage: floor LIBRARY
 *
 * Writes what `ringwarden showstatus` writes for every device, each line in
 * one write, with nothing else around it: no string table, no console
 * checks, no fault handling. The benchmark compares its output with the
 * program's before timing either, so the two always do the same work.
 */
#include <dlfcn.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

typedef uint32_t (*Initialize)(uint32_t*);
typedef uint32_t (*DeInitialize)(void);
typedef uint32_t (*Enumerate)(char*, uint32_t*, uint32_t*);
typedef uint32_t (*GetInfo)(const char*, void*, uint32_t*);
typedef uint32_t (*Request)(uint32_t, void*, uint32_t);

struct StatusRequest {
    void* device;
    uint32_t zero1;
    int32_t status;
    uint32_t zero2;
};

struct UserRequest {
    void* device;
    char user[276];
};

static const char* const kStatusNames[] = {"Idle",      "Hanging up",         "Connected", "Monitoring",
                                           "Answering timeout", "Calling back", "Answering", "Monitoring failed"};

static void Line(const char* format, ...) __attribute__((format(printf, 1, 2)));

static void Line(const char* format, ...)
{
    char text[2048];
    va_list arguments;
    va_start(arguments, format);
    int length = vsnprintf(text, sizeof(text) - 2, format, arguments);
    va_end(arguments);
    if (length < 0) {
        exit(1);
    }
    if ((size_t)length > sizeof(text) - 3) {
        length = (int)(sizeof(text) - 3);
    }
    memcpy(text + length, "\r\n", 2);
    if (write(1, text, (size_t)length + 2) != length + 2) {
        exit(1);
    }
}

int main(int argc, char** argv)
{
    void* library = argc == 2 ? dlopen(argv[1], RTLD_NOW | RTLD_LOCAL) : NULL;
    if (library == NULL) {
        fprintf(stderr, "usage: floor LIBRARY (%s)\n", argc == 2 ? dlerror() : "no library named");
        return 2;
    }
    Initialize initialize = (Initialize)dlsym(library, "SuprvInitialize");
    DeInitialize deInitialize = (DeInitialize)dlsym(library, "SuprvDeInitialize");
    Enumerate enumerate = (Enumerate)dlsym(library, "SuprvEnumAccessInfo");
    GetInfo getInfo = (GetInfo)dlsym(library, "SuprvGetAccessInfo");
    Request request = (Request)dlsym(library, "SuprvRequest");
    uint32_t zero = 0;
    uint32_t bytes = 0;
    uint32_t count = 0;
    if (!initialize || !deInitialize || !enumerate || !getInfo || !request || initialize(&zero) != 0) {
        return 1;
    }
    Line("Ringwarden 1.3 (build 42), dial-up server manager for Windows 9x\r\n"
         "Free software; it comes with no warranty of any kind.\r\n");
    Line("\tringwarden@example.org\r\n\thttp://www.example.org/ringwarden/\r\n");
    enumerate(NULL, &bytes, &count);
    char* names = malloc(bytes);
    if (names == NULL || enumerate(names, &bytes, &count) != 0) {
        return 1;
    }
    Line("Device status list:");
    const char* name = names;
    for (uint32_t position = 1; position <= count; ++position, name += strlen(name) + 1) {
        uint32_t size = 0;
        getInfo(name, NULL, &size);
        unsigned char* record = calloc(1, size + 4);
        if (record == NULL || getInfo(name, record, &size) != 0) {
            return 1;
        }
        const char* comment = (const char*)record + 204;
        const char* deviceType = (const char*)record + 129;
        const char* serverType = (const char*)record + 156;
        uint32_t flags;
        memcpy(&flags, record + 148, sizeof(flags));
        Line("device %u:\t\"%s\"", position, name);
        if (comment[0] != 0) {
            Line("\tComment: %.256s\r\n", comment);
        }
        if (deviceType[0] != 0) {
            Line("\tDevice type:\t%s", deviceType);
        }
        if (serverType[0] != 0) {
            Line("\tServer type:\t%.4s", serverType);
        }
        Line((flags & 1) ? "\tDial-up server active" : "\tDial-up server stopped");
        struct StatusRequest status = {record, 0, -1, 0};
        request(54, &status, 0);
        if ((flags & 1) || status.status != 0) {
            Line("\tStatus:\t%s", (uint32_t)status.status < 8 ? kStatusNames[status.status] : "Unknown");
        }
        struct UserRequest user;
        memset(&user, 0, sizeof(user));
        user.device = record;
        request(55, &user, 0);
        if (user.user[0] != 0) {
            Line("\tUser logged in:\t%.276s", user.user);
        }
        Line("%s", "");
        free(record);
    }
    free(names);
    deInitialize();
    dlclose(library);
    return 0;
}
