/*
 * libvmmapi: the hypervisor's user-space library, as far as the controller
 * uses it: the controller's contract with the host's libvmmapi (included as
 * <vmmapi.h>; used only where the host has no header of that name). The
 * controller resolves these entry points at run time
 * ("/usr/lib/libvmmapi.so.6"); the stand-in library in sim/libvmmapi exports
 * them and reaches the stand-in hypervisor through the VM's node under
 * /dev/vmm.
 *
 * Conventions: functions returning int give 0 (or a value >= 0) on success
 * and -1 with errno set on failure; functions returning a pointer give NULL
 * with errno set on failure.
 */
#ifndef OMBRIX_HOSTAPI_VMMAPI_H
#define OMBRIX_HOSTAPI_VMMAPI_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct vmctx; /* an opened VM */
struct vcpu;  /* one virtual CPU of an opened VM */

/* vCPU scheduling classes accepted by vm_set_vcpu_class. */
#define VM_VCPU_CLASS_MIN 0
#define VM_VCPU_CLASS_MAX 9

/* vm_ping results above 0: the VM is not running yet. */
#define VM_PING_NO_NODE 1   /* no node for the name under /dev/vmm yet */
#define VM_PING_BOOTING 2   /* the hypervisor is setting the VM up */
#define VM_PING_RECEIVING 3 /* waiting for an incoming migration stream */
#define VM_PING_NO_ANSWER 4 /* the node is there but nobody answered */

/* Opens the VM `name`; errno ENOENT when there is no such VM. */
struct vmctx *vm_open(const char *name);
/* Releases the handle; NULL is allowed. */
void vm_close(struct vmctx *ctx);

/* 0 once the VM `name` runs, one of VM_PING_* while it is not running yet,
 * -1 with errno EINVAL for an unusable name. */
int vm_ping(const char *name);

/* The VM's vCPU class (VM_VCPU_CLASS_MIN..MAX) or -1. */
int vm_get_vcpu_class(struct vmctx *ctx);
/* 0, or -1 (EINVAL for a class outside VM_VCPU_CLASS_MIN..MAX). */
int vm_set_vcpu_class(struct vmctx *ctx, int vcpu_class);

/* Stops and restarts the VM's vCPUs. Pausing a paused VM, or resuming a
 * running one, succeeds without a change. */
int vm_pause(struct vmctx *ctx);
int vm_resume(struct vmctx *ctx);

/* Applies run-time settings: one "key=value" per line. Nothing is applied
 * when any line is malformed (EINVAL). */
int vm_reconfig(struct vmctx *ctx, const char *settings);

/* Writes a checkpoint image of the VM to `path`; with `stop` non-zero the
 * hypervisor ends (exit status 1) once the image is complete. */
int vm_checkpoint(struct vmctx *ctx, const char *path, int stop);

/* Sends the running VM to the hypervisor waiting at `address`:`port`
 * (started with "-L port"); the VM ends here (exit status 1) once the
 * receiver has taken it. */
int vm_livestream(struct vmctx *ctx, const char *address, uint16_t port);

/* Calls `cb` once per configuration pair of the running VM, in ascending
 * key order. A non-zero result of `cb` ends the walk and is returned. */
typedef int (*vm_config_cb)(const char *key, const char *value, void *arg);
int vm_get_config(struct vmctx *ctx, vm_config_cb cb, void *arg);

/* A handle on vCPU `vcpuid` (0 .. number of vCPUs - 1) of the VM. */
struct vcpu *vm_vcpu_open(struct vmctx *ctx, int vcpuid);
void vm_vcpu_close(struct vcpu *vcpu);

/* Fills `values` with up to `max_values` statistics counters of the vCPU and
 * returns how many it filled. vm_get_stat_desc names counter `index`, NULL
 * beyond the last one. */
int vm_get_stats(struct vcpu *vcpu, uint64_t *values, int max_values);
const char *vm_get_stat_desc(struct vmctx *ctx, int index);

#ifdef __cplusplus
}
#endif

#endif /* OMBRIX_HOSTAPI_VMMAPI_H */
