/*
 * insn_count: a TCG plugin for qemu-arm (user mode, plugin API version 1 as
 * in QEMU 7.2) that counts executed guest instructions inside marked regions.
 *
 * Every translated block adds its instruction count to one 64-bit counter
 * with an inline operation, so the count is exact and does not depend on
 * the host or on timing. A region opens when the guest enters the function
 * named by begin= and closes when it enters the one named by end= (both
 * default to armcost_begin / armcost_end: small call-free functions in the
 * main program, found by symbol name, so the program must keep its symbol
 * table). The few instructions of the markers themselves count towards the
 * region; they are the same for every region.
 *
 * Arguments (comma-separated after the plugin path):
 *   out=PATH      write the report to PATH (required)
 *   begin=SYM     name of the opening marker
 *   end=SYM       name of the closing marker
 *   profile=on    also count instructions by function inside the regions
 *
 * Report, one line each:
 *   total N               instructions of the whole run
 *   region I N            region I (from 0) in the order the guest closed them
 *   profile N SYMBOL      (profile=on) instructions of blocks starting in
 *                         SYMBOL, summed over all regions, largest first
 */
#include <glib.h>
#include <inttypes.h>
#include <stdbool.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

/* The part of QEMU's plugin interface (version 1) that this plugin uses. */
typedef uint64_t qemu_plugin_id_t;
struct qemu_plugin_tb;
struct qemu_plugin_insn;
enum qemu_plugin_cb_flags { QEMU_PLUGIN_CB_NO_REGS, QEMU_PLUGIN_CB_R_REGS, QEMU_PLUGIN_CB_RW_REGS };
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void *userdata);
typedef void (*qemu_plugin_vcpu_udata_cb_t)(unsigned int vcpu_index, void *userdata);
typedef void (*qemu_plugin_vcpu_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb *tb);
void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_vcpu_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_cb(struct qemu_plugin_tb *tb, qemu_plugin_vcpu_udata_cb_t cb,
                                          enum qemu_plugin_cb_flags flags, void *userdata);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb *tb, enum qemu_plugin_op op, void *ptr,
                                              uint64_t imm);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void *userdata);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb *tb);
struct qemu_plugin_insn *qemu_plugin_tb_get_insn(const struct qemu_plugin_tb *tb, size_t idx);
const char *qemu_plugin_insn_symbol(const struct qemu_plugin_insn *insn);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

/* Instructions executed by a function, for the profile. */
typedef struct {
    const char *symbol;
    uint64_t count;     /* whole run, bumped inline */
    uint64_t atBegin;   /* count when the open region began */
    uint64_t inRegions; /* sum over closed regions */
} Function;

static uint64_t executed; /* whole run, bumped inline by every block */
static uint64_t openedAt; /* executed when the open region began */
static bool open;
static GArray *regions;       /* uint64_t per closed region */
static GHashTable *functions; /* symbol -> Function*, with profile=on */
static const char *beginSymbol = "armcost_begin";
static const char *endSymbol = "armcost_end";
static const char *outPath;

static void snapshotFunction(gpointer key, gpointer value, gpointer closing)
{
    (void)key;
    Function *f = value;
    if (closing)
        f->inRegions += f->count - f->atBegin;
    else
        f->atBegin = f->count;
}

static void onBegin(unsigned int vcpu, void *userdata)
{
    (void)vcpu;
    (void)userdata;
    openedAt = executed;
    open = true;
    if (functions)
        g_hash_table_foreach(functions, snapshotFunction, NULL);
}

static void onEnd(unsigned int vcpu, void *userdata)
{
    (void)vcpu;
    (void)userdata;
    if (!open)
        return;
    const uint64_t n = executed - openedAt;
    g_array_append_val(regions, n);
    open = false;
    if (functions)
        g_hash_table_foreach(functions, snapshotFunction, GINT_TO_POINTER(1));
}

static Function *functionOf(const char *symbol)
{
    Function *f = g_hash_table_lookup(functions, symbol);
    if (!f) {
        f = g_new0(Function, 1);
        f->symbol = g_strdup(symbol);
        g_hash_table_insert(functions, (gpointer)f->symbol, f);
    }
    return f;
}

static void onTranslate(qemu_plugin_id_t id, struct qemu_plugin_tb *tb)
{
    (void)id;
    const size_t n = qemu_plugin_tb_n_insns(tb);
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed, n);
    const char *symbol = n ? qemu_plugin_insn_symbol(qemu_plugin_tb_get_insn(tb, 0)) : NULL;
    if (!symbol)
        return;
    if (functions)
        qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &functionOf(symbol)->count, n);
    /* A marker is entered by a call, which ends the caller's block, so its
     * entry is always the start of a block. The end marker's callback runs
     * before this block's own instructions are added: they count towards
     * the next region opened, not this one, and that is the same offset for
     * every region. */
    if (strcmp(symbol, beginSymbol) == 0)
        qemu_plugin_register_vcpu_tb_exec_cb(tb, onBegin, QEMU_PLUGIN_CB_NO_REGS, NULL);
    else if (strcmp(symbol, endSymbol) == 0)
        qemu_plugin_register_vcpu_tb_exec_cb(tb, onEnd, QEMU_PLUGIN_CB_NO_REGS, NULL);
}

static gint byCountDescending(gconstpointer a, gconstpointer b)
{
    const Function *fa = *(Function *const *)a, *fb = *(Function *const *)b;
    return fa->inRegions < fb->inRegions ? 1 : fa->inRegions > fb->inRegions ? -1 : strcmp(fa->symbol, fb->symbol);
}

static void report(qemu_plugin_id_t id, void *userdata)
{
    (void)id;
    (void)userdata;
    FILE *f = fopen(outPath, "w");
    if (!f) {
        perror(outPath);
        return;
    }
    fprintf(f, "total %" PRIu64 "\n", executed);
    for (guint i = 0; i < regions->len; ++i)
        fprintf(f, "region %u %" PRIu64 "\n", i, g_array_index(regions, uint64_t, i));
    if (functions) {
        GPtrArray *all = g_ptr_array_new();
        GHashTableIter it;
        gpointer key, value;
        g_hash_table_iter_init(&it, functions);
        while (g_hash_table_iter_next(&it, &key, &value))
            if (((Function *)value)->inRegions)
                g_ptr_array_add(all, value);
        g_ptr_array_sort(all, byCountDescending);
        for (guint i = 0; i < all->len; ++i) {
            const Function *fn = g_ptr_array_index(all, i);
            fprintf(f, "profile %" PRIu64 " %s\n", fn->inRegions, fn->symbol);
        }
        g_ptr_array_free(all, TRUE);
    }
    fclose(f);
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id, const void *info, int argc,
                                                               char **argv)
{
    (void)info;
    for (int i = 0; i < argc; ++i) {
        gchar **kv = g_strsplit(argv[i], "=", 2);
        const bool known = kv[0] && kv[1];
        if (known && strcmp(kv[0], "out") == 0)
            outPath = g_strdup(kv[1]);
        else if (known && strcmp(kv[0], "begin") == 0)
            beginSymbol = g_strdup(kv[1]);
        else if (known && strcmp(kv[0], "end") == 0)
            endSymbol = g_strdup(kv[1]);
        else if (known && strcmp(kv[0], "profile") == 0 && strcmp(kv[1], "on") == 0)
            functions = g_hash_table_new(g_str_hash, g_str_equal);
        else {
            fprintf(stderr, "insn_count: unknown argument %s\n", argv[i]);
            g_strfreev(kv);
            return -1;
        }
        g_strfreev(kv);
    }
    if (!outPath) {
        fprintf(stderr, "insn_count: out=PATH is required\n");
        return -1;
    }
    regions = g_array_new(FALSE, FALSE, sizeof(uint64_t));
    qemu_plugin_register_vcpu_tb_trans_cb(id, onTranslate);
    qemu_plugin_register_atexit_cb(id, report, NULL);
    return 0;
}
