<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>BatchMain</name>
    <message>
        <source>cannot write the summary to standard output: %1</source>
        <translation>无法把汇总写到标准输出：%1</translation>
    </message>
    <message>
        <source>cannot open database &quot;%1&quot; on &quot;%2&quot;: %3</source>
        <translation>无法打开服务器 &quot;%2&quot; 上的数据库 &quot;%1&quot;：%3</translation>
    </message>
    <message>
        <source>database &quot;%1&quot; has no table BAC1</source>
        <translation>数据库 &quot;%1&quot; 中不存在 BAC1 表</translation>
    </message>
    <message>
        <source>cannot write the help to standard output: %1</source>
        <translation>无法把帮助写到标准输出：%1</translation>
    </message>
    <message>
        <source>cannot write the version to standard output: %1</source>
        <translation>无法把版本号写到标准输出：%1</translation>
    </message>
    <message>
        <source>Try &quot;bmp2jpg-batch --help&quot;.</source>
        <translation>请运行 &quot;bmp2jpg-batch --help&quot; 查看用法。</translation>
    </message>
</context>
<context>
    <name>CertificateAdvice</name>
    <message>
        <source>The server&apos;s certificate could not be checked (--verify-certificate): the server offers no encryption, or its certificate is not signed by a CA this machine trusts, or it does not name the server as given to --server. Install the server&apos;s CA in the system&apos;s store (%1) or, with FreeTDS, give it with --ca-file; give --server the name the certificate holds; or, on a network you trust, leave out --verify-certificate.</source>
        <translation>无法验证服务器的证书（--verify-certificate）：服务器不提供加密，或其证书不是由本机信任的 CA 签发，或证书中的名称与 --server 给出的服务器名称不符。请把服务器的 CA 安装到系统的证书存储中（%1），或在使用 FreeTDS 时用 --ca-file 指定；让 --server 使用证书中的名称；或者，在可信的网络中去掉 --verify-certificate。</translation>
    </message>
</context>
<context>
    <name>CertificateStore</name>
    <message>
        <source>on Windows, import it into Trusted Root Certification Authorities of the local computer with certlm.msc</source>
        <translation>在 Windows 上，用 certlm.msc 把它导入本地计算机的“受信任的根证书颁发机构”</translation>
    </message>
    <message>
        <source>on Debian, copy it as a .crt file to /usr/local/share/ca-certificates and run update-ca-certificates</source>
        <translation>在 Debian 上，把它作为 .crt 文件复制到 /usr/local/share/ca-certificates，然后运行 update-ca-certificates</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>SQL Server to connect to, or the folder of an embedded server.</source>
        <translation>要连接的 SQL Server 服务器名称，或嵌入式服务器所在的文件夹。</translation>
    </message>
    <message>
        <source>Login name.</source>
        <translation>登录名。</translation>
    </message>
    <message>
        <source>Database holding table BAC1 (on an embedded server: the name of its .db file).</source>
        <translation>包含 BAC1 表的数据库（嵌入式服务器上为其 .db 文件的名称）。</translation>
    </message>
    <message>
        <source>Write nothing: count the values of BAC02 and BAC04 by kind (bitmap to convert, already JPEG, other, empty, unreadable bitmap) with their total bytes.</source>
        <translation>不写入任何内容：按类别（待转换的位图、已是 JPEG、其他、空值、无法读取的位图）统计 BAC02 和 BAC04 中的值及其总字节数。</translation>
    </message>
    <message>
        <source>Check the SQL Server&apos;s TLS certificate: it must be signed by a trusted CA and name the server as given to --server, or the connection is refused. Without it the certificate is not checked; the whole session is encrypted either way.</source>
        <translation>检查 SQL Server 的 TLS 证书：证书必须由受信任的 CA 签发，且其中的名称与 --server 给出的服务器名称一致，否则拒绝连接。不加此选项时不检查证书；无论哪种情况，整个会话都是加密的。</translation>
    </message>
    <message>
        <source>With --verify-certificate: trust the CAs in this PEM file instead of the system&apos;s (FreeTDS only; Microsoft&apos;s driver reads only the system&apos;s store).</source>
        <translation>与 --verify-certificate 一起使用：信任此 PEM 文件中的 CA，而不是系统的 CA（仅限 FreeTDS；Microsoft 的驱动程序只读取系统的证书存储）。</translation>
    </message>
    <message>
        <source>Before a value is replaced, keep its original bytes in a file under DIR, listed in DIR/manifest.csv, flushed to disk before the write that replaces it is committed.</source>
        <translation>在替换一个值之前，把它原来的字节保存到 DIR 下的一个文件中，列在 DIR/manifest.csv 里，并在替换它的写入提交之前刷新到磁盘。</translation>
    </message>
    <message>
        <source>Put the originals kept by --backup DIR back, where the stored value is still exactly the JPEG that replaced it; values changed since are left alone and listed.</source>
        <translation>把 --backup DIR 保存的原始值写回，前提是存储的值仍与替换它的 JPEG 完全相同；此后被改动过的值保持不变，并逐一列出。</translation>
    </message>
    <message>
        <source>Write one CSV line per visited value (column, key, BCE01, outcome, bytes before, bytes after) as the run goes. An earlier report at FILE is replaced; any other file there is left alone and the command stops.</source>
        <translation>运行过程中为每个访问过的值写一行 CSV（列、键、BCE01、结果、转换前字节数、转换后字节数）。FILE 处早先运行的报告会被替换；若那里是其他文件，则保持原样，命令停止。</translation>
    </message>
    <message>
        <source>Show the version and exit.</source>
        <translation>显示版本号并退出。</translation>
    </message>
    <message>
        <source>Show this help and exit.</source>
        <translation>显示本帮助并退出。</translation>
    </message>
    <message>
        <source>--%1 is required</source>
        <translation>必须给出 --%1</translation>
    </message>
    <message>
        <source>--ca-file is only used with --verify-certificate</source>
        <translation>--ca-file 只能与 --verify-certificate 一起使用</translation>
    </message>
    <message>
        <source>--ca-file &quot;%1&quot; is not a readable file</source>
        <translation>--ca-file &quot;%1&quot; 不是可读的文件</translation>
    </message>
    <message>
        <source>the password is never taken from the command line: set %1 or type it when asked</source>
        <translation>密码从不从命令行读取：请设置 %1，或在提示时输入</translation>
    </message>
    <message>
        <source>unexpected argument &quot;%1&quot;</source>
        <translation>多余的参数 &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--restore takes neither --backup nor --report</source>
        <translation>--restore 不能与 --backup 或 --report 一起使用</translation>
    </message>
    <message>
        <source>a dry run replaces nothing, so --backup has nothing to keep</source>
        <translation>试运行不替换任何值，因此 --backup 没有可保存的内容</translation>
    </message>
    <message>
        <source>Usage: bmp2jpg-batch --server &lt;name&gt; --user &lt;login&gt; --database &lt;name&gt; [options]</source>
        <translation>用法：bmp2jpg-batch --server &lt;name&gt; --user &lt;login&gt; --database &lt;name&gt; [选项]</translation>
    </message>
    <message>
        <source>Converts, in place, every BMP picture in columns BAC02 and then BAC04 of table BAC1 to JPEG, exactly as the bmp2jpg desktop tool does. Values that are not readable bitmaps are left as they are and not rewritten.</source>
        <translation>把 BAC1 表中 BAC02 列、然后 BAC04 列里的每张 BMP 图片就地转换为 JPEG，结果与 bmp2jpg 桌面工具的完全相同。不是可读位图的值保持原样，不会被重写。</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>选项：</translation>
    </message>
    <message>
        <source>Password:
  Never given on the command line. Taken from the environment variable
  %1 when it is set (even to nothing), otherwise asked for on
  the terminal without echo. An embedded server ignores it.

A way back:
  --backup DIR keeps the original of every value replaced, named after the
  row&apos;s key, with DIR/manifest.csv listing key, BCE01, column, sizes and
  SHA-256 of the original and of the JPEG. A folder used before is added to.
  The backup&apos;s folders and files and the --report file are made readable
  by their owner only (on Windows: as the folder they are made in). Neither
  may be the database file or lie in an embedded server&apos;s folder, nor the
  report lie in the backup folder.
  --restore DIR (with --server, --user, --database) writes the originals
  back; --dry-run with it says what would be restored.

While it runs:
  Progress goes to standard error: a bar with count, rate and time left on a
  terminal, a plain line every few seconds otherwise. Ctrl-C or SIGTERM stops
  once the rows in hand are written; a second Ctrl-C quits at once. Every row
  is written whole or not at all. A summary (values converted, left unchanged,
  bytes before and after, time) goes to standard output.

Certificates:
</source>
        <translation>密码：
  从不在命令行上给出。设置了环境变量 %1 时（即使为空）
  取自该变量，否则在终端上提示输入，不回显。嵌入式服务器不使用密码。

退路（备份与恢复）：
  --backup DIR 保存每个被替换的值的原始内容，以该行的键命名，并由
  DIR/manifest.csv 列出键、BCE01、列、大小以及原始值和 JPEG 的 SHA-256。
  用过的文件夹会被追加内容。备份的文件夹和文件以及 --report 文件只有其
  所有者可读（在 Windows 上：与其所在的文件夹相同）。它们不能是数据库文件，
  也不能位于嵌入式服务器的文件夹中，报告也不能位于备份文件夹中。
  --restore DIR（与 --server、--user、--database 一起使用）把原始值写回；
  与 --dry-run 一起使用时只说明会恢复哪些值。

运行期间：
  进度写到标准错误：在终端上是带有数量、速度和剩余时间的进度条，否则每隔
  几秒写一行。Ctrl-C 或 SIGTERM 会在手头的行写完后停止；再按一次 Ctrl-C
  立即退出。每一行要么完整写入，要么完全不写。汇总（已转换和保持不变的值、
  转换前后的字节数、用时）写到标准输出。

证书：
</translation>
    </message>
    <message>
        <source>The whole connection to a SQL Server is always encrypted, through Microsoft&apos;s drivers and FreeTDS alike. By default the server&apos;s certificate is not checked, so servers on a self-signed certificate connect; that guards against eavesdropping, not against someone posing as the server. --verify-certificate refuses a server whose certificate is not signed by a trusted CA or does not name the server as given to --server, and a server that does not offer encryption. Install the server&apos;s CA in the system&apos;s store (%1; %2), or with FreeTDS give it with --ca-file.</source>
        <translation>与 SQL Server 的整个连接总是加密的，无论通过 Microsoft 的驱动程序还是 FreeTDS。默认不检查服务器的证书，因此使用自签名证书的服务器也能连接；这能防止窃听，但不能防止他人冒充服务器。--verify-certificate 会拒绝证书不是由受信任的 CA 签发、或证书中的名称与 --server 给出的名称不符的服务器，以及不提供加密的服务器。请把服务器的 CA 安装到系统的证书存储中（%1；%2），或在使用 FreeTDS 时用 --ca-file 指定。</translation>
    </message>
    <message>
        <source>Exit codes:
  0    done (or nothing to do)
  1    a failure stopped the run; its message, naming the row (BCE01) and
       column, is on standard error; rows written before it stay converted
  2    bad usage: an unknown or missing option, no password source, or an
       output where it would write over what is not its own
  130  stopped by the user (Ctrl-C or SIGTERM)
</source>
        <translation>退出码：
  0    完成（或无事可做）
  1    运行因故障而停止；消息写在标准错误上，指明行（BCE01）和列；
       此前写入的行保持已转换
  2    用法错误：未知或缺少选项、没有密码来源，或输出会覆盖不属于它的内容
  130  被用户停止（Ctrl-C 或 SIGTERM）
</translation>
    </message>
    <message>
        <source>Encode up to N pictures at once (default: the number of cores, %1 here). Each session reads and writes in row order; the bytes written do not depend on N; memory holds about N + 1 pictures.</source>
        <translation>同时编码至多 N 张图片（默认为 CPU 核数，本机为 %1）。每个会话都按行的顺序读取和写入；写入的字节与 N 无关；内存中约有 N + 1 张图片。</translation>
    </message>
    <message>
        <source>Connect to SQL Server N times, each session converting its own range of the key of BAC1 in transactions of its own, so that one&apos;s wait for the network is another&apos;s transfer (default: %1; no more than --jobs). One session where BAC1 has no key to take ranges of, and on an embedded server.</source>
        <translation>连接 SQL Server N 次，每个会话在各自的事务中转换 BAC1 表的键的一个区间，这样一个会话等待网络时，另一个会话正在传输数据（默认为 %1；会话数不超过 --jobs）。BAC1 没有可按区间划分的键时，以及在嵌入式服务器上，只用一个会话。</translation>
    </message>
    <message>
        <source>--%1 wants a whole number from 1 to %2, not &quot;%3&quot;</source>
        <translation>--%1 需要 1 到 %2 之间的整数，而不是 &quot;%3&quot;</translation>
    </message>
</context>
<context>
    <name>Console</name>
    <message>
        <source>stopping once the rows in hand are written; press Ctrl-C again to quit at once</source>
        <translation>手头的行写完后即停止；再按一次 Ctrl-C 立即退出</translation>
    </message>
</context>
<context>
    <name>OutputPaths</name>
    <message>
        <source>a symbolic link</source>
        <translation>一个符号链接</translation>
    </message>
    <message>
        <source>a folder</source>
        <translation>一个文件夹</translation>
    </message>
    <message>
        <source>a file</source>
        <translation>一个文件</translation>
    </message>
    <message>
        <source>%1 would write over the database file %2</source>
        <translation>%1 会覆盖数据库文件 %2</translation>
    </message>
    <message>
        <source>%1 would write into the embedded server&apos;s folder %2</source>
        <translation>%1 会写入嵌入式服务器的文件夹 %2</translation>
    </message>
    <message>
        <source>%1 would write into the --backup folder %2</source>
        <translation>%1 会写入 --backup 的文件夹 %2</translation>
    </message>
    <message>
        <source>%1 is %2 that is not a report of an earlier run; it is left as it is</source>
        <translation>%1 是%2，而不是早先运行留下的报告；它保持原样</translation>
    </message>
    <message>
        <source>%1 is %2, not a folder</source>
        <translation>%1 是%2，不是文件夹</translation>
    </message>
    <message>
        <source>%1: %2 is %3, not a backup manifest</source>
        <translation>%1：%2 是%3，不是备份清单</translation>
    </message>
</context>
<context>
    <name>Password</name>
    <message>
        <source>no password: set %1, or run on a terminal to be asked for it</source>
        <translation>没有密码：请设置 %1，或在终端上运行以便提示输入</translation>
    </message>
    <message>
        <source>Password: </source>
        <translation>密码：</translation>
    </message>
    <message>
        <source>no password was typed</source>
        <translation>没有输入密码</translation>
    </message>
</context>
<context>
    <name>Progress</name>
    <message>
        <source>%1/%2 values  %3 values/s  %4 left</source>
        <translation>%1/%2 个值  %3 个/秒  剩余 %4</translation>
    </message>
</context>
<context>
    <name>QCommandLineParser</name>
    <message>
        <source>Unknown option &apos;%1&apos;.</source>
        <translation>未知选项 &apos;%1&apos;。</translation>
    </message>
    <message>
        <source>Unknown options: %1.</source>
        <translation>未知选项：%1。</translation>
    </message>
    <message>
        <source>Missing value after &apos;%1&apos;.</source>
        <translation>&apos;%1&apos; 后缺少值。</translation>
    </message>
    <message>
        <source>Unexpected value after &apos;%1&apos;.</source>
        <translation>&apos;%1&apos; 后不应有值。</translation>
    </message>
</context>
<context>
    <name>Summary</name>
    <message>
        <source>Time: %1 s.
</source>
        <translation>用时：%1 秒。
</translation>
    </message>
    <message>
        <source>Dry run: nothing was written.
</source>
        <translation>试运行：没有写入任何内容。
</translation>
    </message>
    <message>
        <source>Stopped by the user: the values not counted%1 were not visited and are unchanged.
</source>
        <translation>已被用户停止：%1未计入的值没有被访问，保持不变。
</translation>
    </message>
    <message>
        <source>Stopped by a failure: the values not counted%1 are unchanged.
</source>
        <translation>因故障而停止：%1未计入的值保持不变。
</translation>
    </message>
    <message>
        <source>column</source>
        <translation>列</translation>
    </message>
    <message>
        <source>kind</source>
        <translation>类别</translation>
    </message>
    <message>
        <source>values</source>
        <translation>个数</translation>
    </message>
    <message>
        <source>bytes</source>
        <translation>字节数</translation>
    </message>
    <message>
        <source>bytes as JPEG</source>
        <translation>JPEG 字节数</translation>
    </message>
    <message>
        <source>bytes after</source>
        <translation>转换后字节数</translation>
    </message>
    <message>
        <source> above</source>
        <translation>上表中</translation>
    </message>
    <message>
        <source>Would convert %1 values and leave %2 unchanged.
</source>
        <translation>将转换 %1 个值，%2 个值保持不变。
</translation>
    </message>
    <message>
        <source>Converted %1 values, left %2 unchanged.
</source>
        <translation>已转换 %1 个值，%2 个值保持不变。
</translation>
    </message>
    <message>
        <source>Bytes before: %1 (%2), after: %3 (%4).
</source>
        <translation>转换前字节数：%1（%2），转换后：%3（%4）。
</translation>
    </message>
    <message>
        <source>Went back after a deadlock or a lock timeout: %1 times.
</source>
        <translation>因死锁或锁超时而重试：%1 次。
</translation>
    </message>
    <message>
        <source>Would restore %1 values.
</source>
        <translation>将恢复 %1 个值。
</translation>
    </message>
    <message>
        <source>Restored %1 values.
</source>
        <translation>已恢复 %1 个值。
</translation>
    </message>
    <message>
        <source>Already as backed up: %1.
Changed since the backup, left as they are: %2.
Not found (row gone or value NULL): %3.
</source>
        <translation>已与备份相同：%1。
备份后被改动、保持原样：%2。
未找到（行已不存在或值为 NULL）：%3。
</translation>
    </message>
    <message>
        <source>Matching more than one row, left alone: %1.
</source>
        <translation>匹配多于一行、未作改动：%1。
</translation>
    </message>
    <message>
        <source>Backup files that could not be used, left alone: %1.
</source>
        <translation>无法使用、未作改动的备份文件：%1。
</translation>
    </message>
</context>
<context>
    <name>ValueKind</name>
    <message>
        <source>bitmap to convert</source>
        <translation>待转换的位图</translation>
    </message>
    <message>
        <source>already JPEG</source>
        <translation>已是 JPEG</translation>
    </message>
    <message>
        <source>other</source>
        <translation>其他</translation>
    </message>
    <message>
        <source>empty</source>
        <translation>空值</translation>
    </message>
    <message>
        <source>unreadable bitmap</source>
        <translation>无法读取的位图</translation>
    </message>
    <message>
        <source>changed meanwhile</source>
        <translation>期间被他人改动</translation>
    </message>
</context>
</TS>
