# NativeLoader for ART, as dex: there is no dexer for javac's class files here. The build
# compares every member below with javap's view of NativeLoader.java and fails on a difference.
# It has no static initialiser: System.loadLibrary needs a core library that the host's ART lacks,
# so whoever starts the VM loads libkiv-native-lib.so through the VM's own loader, which is where
# System.loadLibrary ends.
.class public final Lcom/zelk/kiv/jni/NativeLoader;
.super Ljava/lang/Object;

.method private constructor <init>()V
    .registers 1
    invoke-direct {p0}, Ljava/lang/Object;-><init>()V
    return-void
.end method

.method public static native test()Ljava/lang/String;
.end method

.method public static native encodeKeyValue(I)I
.end method

.method public static native getDeviceIdentification(Ljava/lang/String;Ljava/lang/String;)Ljava/lang/String;
.end method

.method public static native writeFile(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;
.end method

.method public static native readFile(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;
.end method

.method public static native queryFile(Lcom/zelk/kiv/jni/JniModel;Ljava/lang/String;)Lcom/zelk/kiv/jni/JniModel;
.end method
