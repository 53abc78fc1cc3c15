/** A class with one native method, bound by kiv_leak_check at run time (RegisterNatives). */
final class LeakProbe {
    private LeakProbe() {}

    static native void leak();
}
