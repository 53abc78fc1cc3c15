package com.zelk.kiv.bench;

import java.util.Arrays;

/** Median, minimum and maximum of a set of samples, in microseconds. */
final class Stats {
    final double median;
    final double min;
    final double max;
    final int samples;

    private Stats(double median, double min, double max, int samples) {
        this.median = median;
        this.min = min;
        this.max = max;
        this.samples = samples;
    }

    /** From per-call times in nanoseconds. */
    static Stats ofNanos(double[] nanos) {
        double[] s = nanos.clone();
        Arrays.sort(s);
        int n = s.length;
        double median = n % 2 == 1 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
        return new Stats(median / 1000, s[0] / 1000, s[n - 1] / 1000, n);
    }

    /** The q-quantile (0 to 1) of sorted values, interpolated linearly between neighbours. */
    static double quantile(double[] sorted, double q) {
        if (sorted.length == 0) {
            return Double.NaN;
        }
        double at = q * (sorted.length - 1);
        int lo = (int) Math.floor(at);
        int hi = Math.min(lo + 1, sorted.length - 1);
        return sorted[lo] + (sorted[hi] - sorted[lo]) * (at - lo);
    }

    static String us(double v) {
        if (v >= 1000) {
            return String.format("%,.0f", v);
        }
        if (v >= 100) {
            return String.format("%.0f", v);
        }
        if (v >= 10) {
            return String.format("%.1f", v);
        }
        return String.format("%.2f", v);
    }

    /** "median (min–max)". */
    String cell() {
        return us(median) + " (" + us(min) + "–" + us(max) + ")";
    }
}
