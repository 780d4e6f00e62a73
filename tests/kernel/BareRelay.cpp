/* The floor of a user-mode pen driver (plain C, built as C++), for the kernel test's latency
 * figures: a blocking read of a hidraw node, and one write of ABS_X and SYN_REPORT to a uinput
 * device per report. qmhid-relay /dev/hidrawN NAME Prints "ready" once its device exists; runs
 * until killed. */
#include <fcntl.h>
#include <linux/uinput.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: qmhid-relay /dev/hidrawN NAME\n");
        return 2;
    }
    int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    int out = open("/dev/uinput", O_WRONLY | O_CLOEXEC);
    if (in < 0 || out < 0) {
        perror("open");
        return 1;
    }
    struct uinput_abs_setup abs;
    memset(&abs, 0, sizeof abs);
    abs.code = ABS_X;
    abs.absinfo.maximum = 65535;
    struct uinput_setup setup;
    memset(&setup, 0, sizeof setup);
    setup.id.bustype = BUS_VIRTUAL;
    strncpy(setup.name, argv[2], UINPUT_MAX_NAME_SIZE - 1);
    if (ioctl(out, UI_SET_EVBIT, EV_ABS) != 0 || ioctl(out, UI_SET_ABSBIT, ABS_X) != 0 ||
        ioctl(out, UI_ABS_SETUP, &abs) != 0 || ioctl(out, UI_DEV_SETUP, &setup) != 0 ||
        ioctl(out, UI_DEV_CREATE) != 0) {
        perror("uinput");
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    unsigned char report[4096];
    int x = 0;
    for (;;) {
        if (read(in, report, sizeof report) <= 0)
            return 1;
        struct input_event e[2];
        memset(e, 0, sizeof e);
        e[0].type = EV_ABS;
        e[0].code = ABS_X;
        e[0].value = x = (x + 1) & 0xFFFF;
        e[1].type = EV_SYN;
        e[1].code = SYN_REPORT;
        if (write(out, e, sizeof e) != (ssize_t)sizeof e)
            return 1;
    }
}
