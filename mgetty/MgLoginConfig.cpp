// What a line's login.config does with a caller who starts with a PPP frame: hand it to pppd, or to a login.
#include "mgetty/MgFiles.h"
#include "mgetty/MgRun.h"

#include <string.h>
#include <sys/stat.h>

// mgetty's match of a caller's login name against a login.config key: the
// key may begin or end with "*".
static bool LoginKeyMatches(const char* key, size_t keyLength, const char* user)
{
    size_t userLength = strlen(user);
    if (keyLength == 0) {
        return userLength == 0;
    }
    bool leading = key[0] == '*';
    bool trailing = key[keyLength - 1] == '*';
    if (leading && trailing) {
        if (keyLength < 2) {
            return true;
        }
        for (size_t i = 0; i + (keyLength - 2) <= userLength; ++i) {
            if (memcmp(user + i, key + 1, keyLength - 2) == 0) {
                return true;
            }
        }
        return false;
    }
    if (leading) {
        return userLength >= keyLength - 1 && memcmp(user + userLength - (keyLength - 1), key + 1, keyLength - 1) == 0;
    }
    if (trailing) {
        return userLength >= keyLength - 1 && memcmp(user, key, keyLength - 1) == 0;
    }
    return userLength == keyLength && memcmp(user, key, keyLength) == 0;
}

// What mgetty does with a caller whose first bytes are a PPP frame: the
// login.config line it picks for the name "/AutoPPP/". mgetty takes the file
// only when root owns it and nobody else may read it, and falls back to
// /bin/login otherwise, as it does when no line matches.
static const char* ReadServerType(const char* loginConfig)
{
    char path[MG_PATH_SIZE];
    if (!MgPath(path, "%s", loginConfig)) {
        return "";
    }
    MgTextFile file;
    if (!MgOpenText(&file, path, MG_TRUST_FILE)) {
        return file.error == SUPRV_ERROR_FILE_NOT_FOUND || file.error == SUPRV_ERROR_BAD_PATH ? "TERM" : "";
    }
    struct stat info;
    if (fstat(file.handle, &info) != 0 || info.st_uid != 0 || (info.st_mode & 077) != 0) {
        MgCloseText(&file);
        return "TERM";
    }
    const char* type = "TERM";
    int version = 1;
    while (MgNextLine(&file)) {
        const char* cursor = file.line;
        size_t length;
        const char* key = MgNextWord(&cursor, &length);
        if (key == nullptr || key[0] == '#') {
            continue;
        }
        if (MgWordIs(key, length, "!version")) {
            size_t numberLength;
            const char* number = MgNextWord(&cursor, &numberLength);
            version = number != nullptr && number[0] == '2' && numberLength == 1 ? 2 : 1;
            continue;
        }
        if (!LoginKeyMatches(key, length, "/AutoPPP/")) {
            continue;
        }
        size_t fieldLength;
        const char* field = version > 1 ? MgNextWord(&cursor, &fieldLength) : "-";
        // A version 2 line marked "Y" serves callbacks only.
        if (field == nullptr || field[0] == 'Y' || field[0] == 'y') {
            continue;
        }
        int fields = 0;
        while (fields < 3 && MgNextWord(&cursor, &fieldLength) != nullptr) {
            ++fields;
        }
        if (fields == 3) {
            type = MgWordIs(key, length, "/AutoPPP/") ? "PPP" : "TERM";
            break;
        }
    }
    MgCloseText(&file);
    return file.error == SUPRV_OK ? type : "";
}

const char* MgServerType(MgRun* run, const MgLine* line)
{
    if (line->loginConfig == UINT32_MAX) {
        return "";
    }
    const char* path = run->texts + line->loginConfig;
    for (uint32_t i = 0; i < run->seenCount; ++i) {
        if (strcmp(run->texts + run->seen[i].path, path) == 0) {
            return run->seen[i].serverType;
        }
    }
    const char* type = ReadServerType(path);
    if (run->seenCount < MG_LOGIN_CONFIGS_KEPT) {
        MgLoginConfigSeen* seen = &run->seen[run->seenCount++];
        seen->path = line->loginConfig;
        strcpy(seen->serverType, type);
        return seen->serverType;
    }
    return type;
}
