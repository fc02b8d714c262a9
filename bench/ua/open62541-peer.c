/* Benchmark peer: an open62541 server with the address space OPC-KV7 serves for 16
 * panel lines (namespace 1 "urn:QUARLEN.KV7.1", a folder per item ID prefix under
 * Objects, a Variable ns=1;s=<ItemID> per item), security None, anonymous. Its values
 * change when the benchmark's feed says so: the feed connects to a second loopback port
 * and sends one line per change, "<ItemID>\t<value>\n", as the panels' frames reach
 * OPC-KV7. That socket is served by the stack's own event loop, so the peer stays one
 * thread like OPC-KV7.
 *
 * Usage: open62541-peer OPC_PORT FEED_PORT ITEMS_FILE
 * ITEMS_FILE: one item a line, "<ItemID>\t<Byte|Float|String>\t<initial>\t<description>".
 * Built at bench time by bench/ua/open62541.sh; never part of OPC-KV7. */
#define _DEFAULT_SOURCE /* strsep */
#include "open62541.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum ItemType { TYPE_BYTE, TYPE_FLOAT, TYPE_STRING };

typedef struct {
    char *id;
    enum ItemType type;
} Item;

static Item *items;
static size_t itemCount;
static unsigned long unknownItems, badValues;
static volatile UA_Boolean running = true;

static void stop(int sig)
{
    (void)sig;
    running = false;
}

static int byId(const void *a, const void *b) { return strcmp(((const Item *)a)->id, ((const Item *)b)->id); }

static int typeOf(const char *name, enum ItemType *type)
{
    if (strcmp(name, "Byte") == 0)
        *type = TYPE_BYTE;
    else if (strcmp(name, "Float") == 0)
        *type = TYPE_FLOAT;
    else if (strcmp(name, "String") == 0)
        *type = TYPE_STRING;
    else
        return 0;
    return 1;
}

/* Sets `v` to `text` read as the item's type; the variant borrows `text` for strings. */
static int valueOf(enum ItemType type, char *text, UA_Byte *b, UA_Float *f, UA_String *s, UA_Variant *v)
{
    char *end = NULL;
    switch (type) {
    case TYPE_BYTE: {
        unsigned long n = strtoul(text, &end, 10);
        if (end == text || *end || n > 255)
            return 0;
        *b = (UA_Byte)n;
        UA_Variant_setScalar(v, b, &UA_TYPES[UA_TYPES_BYTE]);
        return 1;
    }
    case TYPE_FLOAT:
        *f = strtof(text, &end);
        if (end == text || *end)
            return 0;
        UA_Variant_setScalar(v, f, &UA_TYPES[UA_TYPES_FLOAT]);
        return 1;
    case TYPE_STRING:
        *s = UA_STRING(text);
        UA_Variant_setScalar(v, s, &UA_TYPES[UA_TYPES_STRING]);
        return 1;
    }
    return 0;
}

/* A string NodeId in namespace 1 naming the first `length` characters of `id`. */
static UA_NodeId prefixNode(char *id, size_t length)
{
    UA_NodeId node = UA_NODEID_STRING(1, id);
    node.identifier.string.length = length;
    return node;
}

/* Adds the folder of every proper prefix of `id` (split at '.'), parents first, except
 * those that `previous` (the item before) already had. */
static UA_StatusCode addFolders(UA_Server *server, char *id, const char *previous)
{
    UA_NodeId parent = UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER);
    char *name = id;
    for (char *dot = strchr(id, '.'); dot; name = dot + 1, dot = strchr(name, '.')) {
        const size_t length = (size_t)(dot - id);
        const UA_NodeId folder = prefixNode(id, length);
        if (strncmp(id, previous, length + 1) != 0) {
            UA_ObjectAttributes oa = UA_ObjectAttributes_default;
            oa.displayName.text.data = (UA_Byte *)name;
            oa.displayName.text.length = (size_t)(dot - name);
            UA_QualifiedName browseName = {1, oa.displayName.text};
            UA_StatusCode res =
                UA_Server_addObjectNode(server, folder, parent, UA_NODEID_NUMERIC(0, UA_NS0ID_ORGANIZES), browseName,
                                        UA_NODEID_NUMERIC(0, UA_NS0ID_FOLDERTYPE), oa, NULL, NULL);
            if (res != UA_STATUSCODE_GOOD && res != UA_STATUSCODE_BADNODEIDEXISTS)
                return res;
        }
        parent = folder;
    }
    return UA_STATUSCODE_GOOD;
}

static int loadItems(UA_Server *server, const char *path)
{
    FILE *in = fopen(path, "r");
    if (!in) {
        perror(path);
        return 0;
    }
    char line[1024];
    char previous[1024] = "";
    size_t capacity = 0;
    while (fgets(line, sizeof line, in)) {
        line[strcspn(line, "\r\n")] = '\0';
        char *rest = line;
        char *id = strsep(&rest, "\t");
        char *typeName = strsep(&rest, "\t");
        char *initial = strsep(&rest, "\t");
        char *description = strsep(&rest, "\t");
        if (!id || !typeName)
            continue;
        enum ItemType type;
        if (!typeOf(typeName, &type)) {
            fprintf(stderr, "%s: unknown type %s of %s\n", path, typeName, id);
            fclose(in);
            return 0;
        }
        if (addFolders(server, id, previous) != UA_STATUSCODE_GOOD) {
            fprintf(stderr, "cannot add the folders of %s\n", id);
            fclose(in);
            return 0;
        }
        UA_Byte b;
        UA_Float f;
        UA_String s;
        UA_VariableAttributes va = UA_VariableAttributes_default;
        if (!valueOf(type, initial ? initial : "", &b, &f, &s, &va.value)) {
            fprintf(stderr, "%s: bad initial value of %s\n", path, id);
            fclose(in);
            return 0;
        }
        char *name = strrchr(id, '.') ? strrchr(id, '.') + 1 : id;
        va.dataType = va.value.type->typeId;
        va.valueRank = UA_VALUERANK_SCALAR;
        va.accessLevel = UA_ACCESSLEVELMASK_READ;
        va.userAccessLevel = UA_ACCESSLEVELMASK_READ;
        va.displayName = UA_LOCALIZEDTEXT("", name);
        va.description = UA_LOCALIZEDTEXT("", description ? description : "");
        const UA_NodeId parent =
            name == id ? UA_NODEID_NUMERIC(0, UA_NS0ID_OBJECTSFOLDER) : prefixNode(id, (size_t)(name - 1 - id));
        UA_StatusCode res = UA_Server_addVariableNode(
            server, UA_NODEID_STRING(1, id), parent, UA_NODEID_NUMERIC(0, UA_NS0ID_ORGANIZES),
            UA_QUALIFIEDNAME(1, name), UA_NODEID_NUMERIC(0, UA_NS0ID_BASEDATAVARIABLETYPE), va, NULL, NULL);
        if (res != UA_STATUSCODE_GOOD) {
            fprintf(stderr, "cannot add %s: %s\n", id, UA_StatusCode_name(res));
            fclose(in);
            return 0;
        }
        if (itemCount == capacity) {
            capacity = capacity ? 2 * capacity : 1024;
            items = realloc(items, capacity * sizeof *items);
        }
        snprintf(previous, sizeof previous, "%s", id);
        items[itemCount].id = strdup(id);
        items[itemCount].type = type;
        itemCount++;
    }
    fclose(in);
    qsort(items, itemCount, sizeof *items, byId);
    return itemCount > 0;
}

/* One feed line: "<ItemID>\t<value>". */
static void applyChange(UA_Server *server, char *line)
{
    char *tab = strchr(line, '\t');
    if (!tab) {
        badValues++;
        return;
    }
    *tab = '\0';
    Item key = {line, TYPE_BYTE};
    const Item *item = bsearch(&key, items, itemCount, sizeof *items, byId);
    if (!item) {
        unknownItems++;
        return;
    }
    UA_Byte b;
    UA_Float f;
    UA_String s;
    UA_Variant v;
    if (!valueOf(item->type, tab + 1, &b, &f, &s, &v) ||
        UA_Server_writeValue(server, UA_NODEID_STRING(1, item->id), v) != UA_STATUSCODE_GOOD)
        badValues++;
}

/* What the feed sent that did not end in a newline yet. */
static char pending[1 << 16];
static size_t pendingLength;

static void onFeed(UA_ConnectionManager *cm, uintptr_t connectionId, void *application, void **connectionContext,
                   UA_ConnectionState state, const UA_KeyValueMap *params, UA_ByteString msg)
{
    (void)cm, (void)connectionId, (void)connectionContext, (void)params;
    if (state != UA_CONNECTIONSTATE_ESTABLISHED || msg.length == 0)
        return;
    UA_Server *server = (UA_Server *)application;
    for (size_t i = 0; i < msg.length; i++) {
        char c = (char)msg.data[i];
        if (c == '\n') {
            pending[pendingLength] = '\0';
            applyChange(server, pending);
            pendingLength = 0;
        } else if (pendingLength + 1 < sizeof pending) {
            pending[pendingLength++] = c;
        }
    }
}

static UA_StatusCode listenForFeed(UA_Server *server, UA_UInt16 port)
{
    UA_EventLoop *el = UA_Server_getConfig(server)->eventLoop;
    UA_ConnectionManager *cm = UA_ConnectionManager_new_POSIX_TCP(UA_STRING("feed"));
    if (!cm)
        return UA_STATUSCODE_BADOUTOFMEMORY;
    UA_StatusCode res = el->registerEventSource(el, &cm->eventSource);
    if (res != UA_STATUSCODE_GOOD)
        return res;
    UA_Boolean listen = true;
    UA_String address = UA_STRING("127.0.0.1");
    UA_KeyValuePair kv[3];
    kv[0].key = UA_QUALIFIEDNAME(0, "address");
    UA_Variant_setScalar(&kv[0].value, &address, &UA_TYPES[UA_TYPES_STRING]);
    kv[1].key = UA_QUALIFIEDNAME(0, "port");
    UA_Variant_setScalar(&kv[1].value, &port, &UA_TYPES[UA_TYPES_UINT16]);
    kv[2].key = UA_QUALIFIEDNAME(0, "listen");
    UA_Variant_setScalar(&kv[2].value, &listen, &UA_TYPES[UA_TYPES_BOOLEAN]);
    UA_KeyValueMap params = {3, kv};
    return cm->openConnection(cm, &params, server, NULL, onFeed);
}

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s OPC_PORT FEED_PORT ITEMS_FILE\n", argv[0]);
        return 2;
    }
    const UA_UInt16 port = (UA_UInt16)atoi(argv[1]);
    const UA_UInt16 feedPort = (UA_UInt16)atoi(argv[2]);
    signal(SIGINT, stop);
    signal(SIGTERM, stop);

    UA_ServerConfig config;
    memset(&config, 0, sizeof config);
    UA_ServerConfig_setMinimal(&config, port, NULL);
    /* Namespace 1 is the application URI; loopback only, like the other servers. */
    UA_String_clear(&config.applicationDescription.applicationUri);
    config.applicationDescription.applicationUri = UA_STRING_ALLOC("urn:QUARLEN.KV7.1");
    UA_Array_delete(config.serverUrls, config.serverUrlsSize, &UA_TYPES[UA_TYPES_STRING]);
    char url[64];
    snprintf(url, sizeof url, "opc.tcp://127.0.0.1:%u", port);
    config.serverUrls = UA_String_new();
    *config.serverUrls = UA_STRING_ALLOC(url);
    config.serverUrlsSize = 1;
    /* The benchmark's lean client sends every request with the header's timestamp left 0,
     * so that a request is encoded once and sent again and again. */
    config.verifyRequestTimestamp = UA_RULEHANDLING_ACCEPT;
    UA_Server *server = UA_Server_newWithConfig(&config);
    if (!server)
        return 1;

    int status = 1;
    if (loadItems(server, argv[3]) && UA_Server_run_startup(server) == UA_STATUSCODE_GOOD) {
        if (listenForFeed(server, feedPort) == UA_STATUSCODE_GOOD) {
            status = 0;
            while (running)
                UA_Server_run_iterate(server, true);
        } else {
            fprintf(stderr, "cannot listen for the feed on port %u\n", feedPort);
        }
        UA_Server_run_shutdown(server);
    }
    if (unknownItems || badValues)
        fprintf(stderr, "feed: %lu unknown items, %lu bad values\n", unknownItems, badValues);
    UA_Server_delete(server);
    for (size_t i = 0; i < itemCount; i++)
        free(items[i].id);
    free(items);
    return status;
}
