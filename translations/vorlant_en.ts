<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CameraViewDialog</name>
    <message>
        <location filename="../views/cameraviewdialog.ui" line="+20"/>
        <source>画中画</source>
        <translation>Picture in picture</translation>
    </message>
    <message>
        <location line="+67"/>
        <source>视频加载中，请稍候......</source>
        <translation>Loading, please wait…</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <location filename="../app/commandline.cpp" line="+46"/>
        <source>用文档摄像头拍摄文件、录像并生成PDF。</source>
        <translation>Photograph documents, record video and make PDF files with a document camera.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>用冒号分隔的媒体文件（视频或图片）代替摄像头，每个文件一个摄像头；优先于环境变量 %1。</source>
        <translation>Use media files (videos or pictures), separated by colons, as cameras: one camera per file. Wins over the variable %1.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>文件列表</source>
        <translation>files</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>多余的参数：%1</source>
        <translation>Unexpected arguments: %1</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>用 vorlant --help 查看可用的选项。</source>
        <translation>Type vorlant --help to see the options.</translation>
    </message>
</context>
<context>
    <name>Documents</name>
    <message>
        <location filename="../documents/documentwriter.cpp" line="+43"/>
        <source>没有一张图像能够读取，文件未保存。</source>
        <translation>None of the pictures could be read; the file was not saved.</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>JPEG 文件不完整</source>
        <translation>the JPEG file is incomplete</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>不支持 %1 位的 JPEG</source>
        <translation>%1-bit JPEG is not supported</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>JPEG 文件头中没有图像高度</source>
        <translation>the JPEG header gives no picture height</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>写入%1时内存不足，文件未保存</source>
        <translation>Out of memory while writing %1; the file was not saved</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>写入%1时出错（%2），文件未保存</source>
        <translation>Writing %1 failed (%2); the file was not saved</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>写入%1时出错，文件未保存</source>
        <translation>Writing %1 failed; the file was not saved</translation>
    </message>
    <message>
        <location line="+78"/>
        <location line="+4"/>
        <source>写入PDF时出错（%1），文件未保存</source>
        <translation>Writing the PDF failed (%1); the file was not saved</translation>
    </message>
    <message>
        <location line="+78"/>
        <location line="+10"/>
        <location line="+13"/>
        <source>写入TIFF时出错，文件未保存。%1</source>
        <translation>Writing the TIFF failed; the file was not saved. %1</translation>
    </message>
    <message>
        <location line="+20"/>
        <location filename="../documents/pdfwriter.cpp" line="+181"/>
        <source>内存不足</source>
        <translation>Out of memory</translation>
    </message>
    <message>
        <location line="+58"/>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>以下图像未写入文件：</source>
        <translation>These pictures were not written into the file:</translation>
    </message>
    <message>
        <location filename="../documents/pdftextlayer.cpp" line="+141"/>
        <source>无法计算文字宽度</source>
        <translation>text widths could not be measured</translation>
    </message>
    <message>
        <location filename="../documents/pdfwriter.cpp" line="-96"/>
        <source>写入失败</source>
        <translation>the write failed</translation>
    </message>
    <message>
        <location line="+54"/>
        <source>图像是空的</source>
        <translation>the picture is empty</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>无法压缩图像</source>
        <translation>the picture could not be compressed</translation>
    </message>
    <message>
        <location filename="../documents/photographfile.cpp" line="+82"/>
        <source>无法读取</source>
        <translation>cannot be read</translation>
    </message>
    <message>
        <location line="+36"/>
        <source>图像太大（%1×%2 像素，最多 %3 百万像素）</source>
        <translation>the picture is too large (%1×%2 pixels, at most %3 megapixels)</translation>
    </message>
</context>
<context>
    <name>ImageMergingDialog</name>
    <message>
        <location filename="../output/imagemergingdialog.ui" line="+14"/>
        <source>图像合并</source>
        <translation>Merge images</translation>
    </message>
    <message>
        <location line="+39"/>
        <location filename="../output/imagemergingdialog.cpp" line="+42"/>
        <source>图像1</source>
        <translation>Image 1</translation>
    </message>
    <message>
        <location line="+22"/>
        <location filename="../output/imagemergingdialog.cpp" line="+1"/>
        <source>图像2</source>
        <translation>Image 2</translation>
    </message>
    <message>
        <location line="+31"/>
        <source>上下预览</source>
        <translation>Stacked</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>左右预览</source>
        <translation>In a row</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>拍照</source>
        <translation>Shoot</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>合并图像</source>
        <translation>Merge</translation>
    </message>
    <message>
        <location filename="../output/imagemergingdialog.cpp" line="+56"/>
        <source>没有图像1</source>
        <translation>There is no image 1.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>没有图像2</source>
        <translation>There is no image 2.</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>两张图像都无法读取，未合并：
%1</source>
        <translation>Neither image can be read; nothing was merged:
%1</translation>
    </message>
    <message>
        <location line="+6"/>
        <source>合并后的图像太大，内存不足，未保存</source>
        <translation>The merged image is too large for the memory; it was not saved.</translation>
    </message>
    <message>
        <location line="+31"/>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
</context>
<context>
    <name>ImageProcessing</name>
    <message>
        <location filename="../engine/cameradevice.cpp" line="+327"/>
        <source>摄像头“%1”正被其他程序占用，请关闭占用它的程序后再试。</source>
        <translation>The camera “%1” is in use by another program. Close that program and try again.</translation>
    </message>
    <message>
        <location filename="../engine/imageprocessing.cpp" line="+372"/>
        <source>摄像头的画面无法解码，照片未保存</source>
        <translation>The camera’s picture could not be decoded; the photograph was not saved</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>处理画面时出错，照片未保存：%1</source>
        <translation>Processing the picture failed; the photograph was not saved: %1</translation>
    </message>
</context>
<context>
    <name>ImageSavePDFOrTiffDialog</name>
    <message>
        <location filename="../output/imagesavepdfortiffdialog.ui" line="+14"/>
        <source>PDF/TIFF拍摄</source>
        <translation>PDF/TIFF</translation>
    </message>
    <message>
        <location line="+66"/>
        <location line="+27"/>
        <location line="+27"/>
        <location line="+27"/>
        <location filename="../output/imagesavepdfortiffdialog.cpp" line="+145"/>
        <source>Image</source>
        <translation>Image</translation>
    </message>
    <message>
        <location line="+44"/>
        <source>翻页自动拍摄</source>
        <translation>At page turn</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>文字识别</source>
        <translation>Read text</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>合并PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>合并TIFF</source>
        <translation>TIFF</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>拍摄</source>
        <translation>Shoot</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <location filename="../output/imagesavepdfortiffdialog.cpp" line="-46"/>
        <location line="+8"/>
        <source>开关没有保存：无法写入 %1。</source>
        <translation>The switch was not saved: cannot write %1.</translation>
    </message>
    <message>
        <location line="+139"/>
        <source>没有图像</source>
        <translation>There are no images.</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>在“%1”中找不到可用的文件名，文件未保存</source>
        <translation>No free file name in “%1”; the file was not saved</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>正在识别文字……</source>
        <translation>Recognising text…</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>正在识别文字 %1/%2 页……</source>
        <translation>Recognising text, page %1 of %2…</translation>
    </message>
    <message>
        <location line="+10"/>
        <location line="+101"/>
        <source>第 %1 页（%2）：%3</source>
        <translation>Page %1 (%2): %3</translation>
    </message>
    <message>
        <location line="-67"/>
        <source>正在写入 %1 页……</source>
        <translation>Writing %1 page(s)…</translation>
    </message>
    <message>
        <location line="+15"/>
        <source>正在写入第 %1/%2 页……</source>
        <translation>Writing page %1 of %2…</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>写入文件时出错，文件未保存</source>
        <translation>Writing the file failed; the file was not saved</translation>
    </message>
    <message>
        <location line="+40"/>
        <source>以下页面未能识别文字，已不带文字保存：
%1</source>
        <translation>The text of these pages could not be read; they were saved without text:
%1</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
</context>
<context>
    <name>LeftoverRecovery</name>
    <message>
        <location filename="../recording/leftovers.cpp" line="+43"/>
        <source>上次未正常结束时正在录制的录像已恢复：</source>
        <translation>Recordings that were being made when vorlant last ended abnormally have been recovered:</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>以下未完成的录像无法修复，仍保留在原处：</source>
        <translation>These unfinished recordings could not be repaired and were left where they are:</translation>
    </message>
    <message>
        <location line="+54"/>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
</context>
<context>
    <name>MainWindowQCamera</name>
    <message>
        <location filename="../mainwindow/mainwindowqcamera.cpp" line="+234"/>
        <source>定时拍摄已停止：
%1</source>
        <translation>Timed shooting stopped:
%1</translation>
    </message>
    <message>
        <location filename="../mainwindow/mainwindowqcamera.ui" line="+20"/>
        <source>vorlant</source>
        <translation>vorlant</translation>
    </message>
    <message>
        <location line="+107"/>
        <location filename="../mainwindow/mainwindowqcamera.cpp" line="+9"/>
        <location line="+23"/>
        <source>视频加载中，请稍候......</source>
        <translation>Loading the video, please wait…</translation>
    </message>
    <message>
        <location line="+71"/>
        <source>视频旋转：</source>
        <translation>Turn:</translation>
    </message>
    <message>
        <location line="+108"/>
        <source>画 中 画：</source>
        <translation>Insets:</translation>
    </message>
    <message>
        <location line="+59"/>
        <source>合并拍照</source>
        <translation>In photo</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>存储路径</source>
        <translation>Work folder</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>浏览图像</source>
        <translation>Open</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>存储位置</source>
        <translation>Change</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>矫正方式</source>
        <translation>Document cut-out</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>不矫正</source>
        <translation>None</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>单个矫正</source>
        <translation>One</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>多个矫正</source>
        <translation>Several</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>自定义矫正</source>
        <translation>Custom</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>拍摄类型</source>
        <translation>Picture</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>彩色</source>
        <translation>Colour</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>灰度</source>
        <translation>Grey</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>黑白</source>
        <translation>B/W</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>彩色去底</source>
        <translation>Clean</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>图像处理</source>
        <translation>Documents</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>合拼图像</source>
        <translation>Merge</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>存储PDF/TIFF</source>
        <translation>TIFF photos</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>合并图像</source>
        <translation>Merge</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>存储PDF</source>
        <translation>PDF</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>曝 光 度：</source>
        <translation>Exposure:</translation>
    </message>
    <message>
        <location line="+44"/>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>-3</source>
        <translation>-3</translation>
    </message>
    <message>
        <location line="+370"/>
        <location filename="../mainwindow/mainwindowqcamera.cpp" line="-24"/>
        <location line="+34"/>
        <source>

录像</source>
        <translation>

Video</translation>
    </message>
    <message>
        <location line="+29"/>
        <location filename="../mainwindow/mainwindowqcamera.cpp" line="-11"/>
        <source>

定时</source>
        <translation>

Timer</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>

设置</source>
        <translation>

Setup</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>

拍摄</source>
        <translation>

Shoot</translation>
    </message>
    <message>
        <location filename="../mainwindow/mainwindowqcamera.cpp" line="-76"/>
        <source>vorlant %1</source>
        <translation>vorlant %1</translation>
    </message>
    <message>
        <location line="+33"/>
        <location filename="../mainwindow/startup.cpp" line="+69"/>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <location line="+83"/>
        <source>定时拍摄中......</source>
        <translation>Timed shooting…</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>录像中......</source>
        <translation>Recording…</translation>
    </message>
    <message>
        <location line="+46"/>
        <source>定时拍照时间间隔为%1秒，无法定时拍摄。请在“设置”中把“定时拍照时间间隔(秒)”设为大于0的秒数。</source>
        <translation>The timer interval is %1 s, so timed shooting cannot start. In “Setup”, set “Interval (s)” to more than 0.</translation>
    </message>
    <message>
        <location line="+10"/>
        <source>

拍照中</source>
        <translation>

Stop</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>定时拍照中......</source>
        <translation>Timed shooting…</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>视频切换中，请等摄像头准备就绪了再进行录制，谢谢......</source>
        <translation>The camera is switching; please record once it is ready.</translation>
    </message>
    <message>
        <location line="+9"/>
        <source>

录像中</source>
        <translation>

Stop</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>视频录像中......</source>
        <translation>Recording…</translation>
    </message>
    <message>
        <location line="+219"/>
        <source>画中画功能已经启用</source>
        <translation>Picture in picture is on; close its windows before switching the camera.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>未检测到可切换的摄像头</source>
        <translation>There is no other camera to switch to.</translation>
    </message>
    <message>
        <location line="+19"/>
        <source>未检测到子摄像头</source>
        <translation>No secondary camera found.</translation>
    </message>
</context>
<context>
    <name>MjpegAviWriter</name>
    <message>
        <location filename="../recording/mjpegaviwriter.cpp" line="+78"/>
        <location line="+115"/>
        <location line="+22"/>
        <location line="+2"/>
        <source>录像文件写入失败</source>
        <translation>Writing the video file failed</translation>
    </message>
    <message>
        <location line="-99"/>
        <location line="+12"/>
        <location line="+9"/>
        <source>无法创建录像文件</source>
        <translation>Cannot create the video file</translation>
    </message>
    <message>
        <location line="-18"/>
        <source>无法创建录像文件：缺少 AVI 格式支持</source>
        <translation>Cannot create the video file: AVI support is missing</translation>
    </message>
    <message>
        <location line="+35"/>
        <source>无法写入录像文件</source>
        <translation>Cannot write the video file</translation>
    </message>
    <message>
        <location line="+50"/>
        <source>录像文件已被删除</source>
        <translation>The video file was deleted</translation>
    </message>
    <message>
        <location line="+35"/>
        <source>录像文件无法完成</source>
        <translation>The video file cannot be finished</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>录像文件无法写入磁盘</source>
        <translation>The video file cannot be written to the disk</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>录像文件无法关闭</source>
        <translation>The video file cannot be closed</translation>
    </message>
    <message>
        <location line="-105"/>
        <location line="+7"/>
        <source>录像画面无法写入</source>
        <translation>The picture cannot be written to the video</translation>
    </message>
</context>
<context>
    <name>OcrQueue</name>
    <message>
        <location filename="../engine/ocrqueue.cpp" line="+159"/>
        <location line="+6"/>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <location line="-49"/>
        <source>无法启动文字识别程序 %1</source>
        <translation>Cannot start the text recognition program %1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>文字识别超时（超过 %1 秒）</source>
        <translation>Text recognition timed out (over %1 s)</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>文字识别程序输出过多，已停止</source>
        <translation>The text recognition worker wrote too much and was stopped</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>文字识别程序异常退出</source>
        <translation>The text recognition program stopped unexpectedly</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>文字识别程序未能读取此页（退出码 %1）</source>
        <translation>The text recognition worker could not read this page (exit code %1)</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>文字识别结果不完整</source>
        <translation>The recognised text is incomplete</translation>
    </message>
</context>
<context>
    <name>Photo</name>
    <message>
        <location filename="../engine/photo.cpp" line="+24"/>
        <source>还没有画面，无法拍照</source>
        <translation>No picture yet; cannot take a photograph</translation>
    </message>
    <message>
        <location line="+170"/>
        <source>画面中没有找到文档，未保存</source>
        <translation>No document found in the picture; nothing was saved</translation>
    </message>
    <message>
        <location line="+5"/>
        <location line="+3"/>
        <source>副摄像头%1还没有画面，未保存</source>
        <translation>Second camera %1 has no picture yet; it was not saved</translation>
    </message>
    <message>
        <location line="+21"/>
        <source>不支持的图片格式“%1”，照片未保存</source>
        <translation>Unsupported picture format “%1”; the photograph was not saved</translation>
    </message>
    <message>
        <location line="+25"/>
        <source>处理画面时出错，照片未保存：%1</source>
        <translation>Processing the picture failed; the photograph was not saved: %1</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>内存不足，照片未保存</source>
        <translation>Out of memory; the photograph was not saved</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>拍照时出错，照片未保存：%1</source>
        <translation>Taking the photograph failed; it was not saved: %1</translation>
    </message>
</context>
<context>
    <name>PhotoNaming</name>
    <message>
        <location filename="../engine/photonaming.cpp" line="+86"/>
        <source>合并图像</source>
        <translation>merged image</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>文档</source>
        <translation>document</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>照片</source>
        <translation>photograph</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>文件</source>
        <translation>file</translation>
    </message>
    <message>
        <location line="+13"/>
        <location line="+18"/>
        <source>无法编码%1：%2</source>
        <translation>Cannot encode the %1: %2</translation>
    </message>
    <message>
        <location line="-5"/>
        <source>无法编码%1（%2）</source>
        <translation>Cannot encode the %1 (%2)</translation>
    </message>
    <message>
        <location line="+89"/>
        <source>无法保存%1“%2”：%3</source>
        <translation>Cannot save the %1 “%2”: %3</translation>
    </message>
    <message>
        <location line="+7"/>
        <source>在“%1”中找不到可用的文件名，%2未保存</source>
        <translation>No free file name in “%1”; the %2 was not saved.</translation>
    </message>
    <message>
        <location line="+11"/>
        <location line="+8"/>
        <location line="+86"/>
        <location line="+17"/>
        <source>无法在“%1”中写入%2：%3</source>
        <translation>Cannot write the %2 in “%1”: %3</translation>
    </message>
    <message>
        <location line="-57"/>
        <source>工作目录“%1”不是文件夹，%2未保存</source>
        <translation>The work folder “%1” is a file, not a folder; the %2 was not saved.</translation>
    </message>
    <message>
        <location line="+3"/>
        <source>无法创建工作目录“%1”，%2未保存</source>
        <translation>Cannot create the work folder “%1”; the %2 was not saved.</translation>
    </message>
    <message>
        <location line="+11"/>
        <source>%1是空的，未保存</source>
        <translation>The %1 is empty and was not saved.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>不支持的图片格式“%1”，%2未保存</source>
        <translation>The image format “%1” is not supported; the %2 was not saved.</translation>
    </message>
</context>
<context>
    <name>QCameraView</name>
    <message>
        <location filename="../views/qcameraview.ui" line="+14"/>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <location filename="../views/qcameraview.cpp" line="+388"/>
        <source>没有可录制的画面。</source>
        <translation>There is no picture to record.</translation>
    </message>
</context>
<context>
    <name>RepairTexts</name>
    <message>
        <location filename="../recording/partrepair.cpp" line="+115"/>
        <location line="+65"/>
        <location line="+55"/>
        <source>无法读取：%1</source>
        <translation>Cannot be read: %1</translation>
    </message>
    <message>
        <location line="-113"/>
        <source>文件中没有视频</source>
        <translation>The file holds no video</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>缺少 AVI 格式支持</source>
        <translation>AVI support is missing</translation>
    </message>
    <message>
        <location line="+3"/>
        <location line="+14"/>
        <source>内存不足</source>
        <translation>Out of memory</translation>
    </message>
    <message>
        <location line="-6"/>
        <location line="+37"/>
        <location line="+12"/>
        <location line="+5"/>
        <location line="+10"/>
        <source>无法写入：%1</source>
        <translation>Cannot be written: %1</translation>
    </message>
    <message>
        <location line="-33"/>
        <source>已取消</source>
        <translation>Cancelled</translation>
    </message>
    <message>
        <location line="+27"/>
        <source>文件中没有完整的画面</source>
        <translation>The file holds no whole frame</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>不是录像文件</source>
        <translation>Not a recording</translation>
    </message>
</context>
<context>
    <name>SettingDialog</name>
    <message>
        <location filename="../settings/settingdialog.ui" line="+14"/>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>图片参数</source>
        <translation>Photographs</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>渲染模式</source>
        <translation>Stream</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>MJPG</source>
        <translation>MJPG</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>YUYV</source>
        <translation>YUYV</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>相机分辨率</source>
        <translation>Camera</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>图片格式</source>
        <translation>Format</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>图片分辨率</source>
        <translation>Photo</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>图片压缩</source>
        <translation>Quality</translation>
    </message>
    <message>
        <location line="+32"/>
        <source>80%</source>
        <translation>80%</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>定时拍照时间间隔(秒)</source>
        <translation>Interval (s)</translation>
    </message>
    <message>
        <location line="+27"/>
        <source>保存配置</source>
        <translation>File names</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>自定义文件名</source>
        <translation>Numbered</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>前缀</source>
        <translation>as</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>IMG</source>
        <translation>IMG</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>+</source>
        <translation>+</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>0</source>
        <translation>0</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>拍摄时间为文件名</source>
        <translation>Time taken</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>播放声音</source>
        <translation>Sound</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>合并图像图保存源图像</source>
        <translation>Keep merge sources</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>存PDF不保存源图像</source>
        <translation>Drop PDF sources</translation>
    </message>
    <message>
        <location line="+17"/>
        <source>画中画配置</source>
        <translation>Picture in picture</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>画中画比例</source>
        <translation>Inset</translation>
    </message>
    <message>
        <location line="+35"/>
        <source>30%</source>
        <translation>30%</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>主头分辨率</source>
        <translation>Main</translation>
    </message>
    <message>
        <location line="+23"/>
        <source>副头分辨率</source>
        <translation>Second</translation>
    </message>
    <message>
        <location line="+24"/>
        <source>水印配置</source>
        <translation>Watermark</translation>
    </message>
    <message>
        <location line="+12"/>
        <source>自定义文字</source>
        <translation>Text</translation>
    </message>
    <message>
        <location line="+29"/>
        <source>拍摄时间为水印</source>
        <translation>Time taken</translation>
    </message>
    <message>
        <location line="+16"/>
        <source>水印透明度</source>
        <translation>Opacity</translation>
    </message>
    <message>
        <location line="+35"/>
        <source>水平偏移</source>
        <translation>Across</translation>
    </message>
    <message>
        <location line="+35"/>
        <source>垂直偏移</source>
        <translation>Down</translation>
    </message>
    <message>
        <location line="+35"/>
        <location line="+13"/>
        <location line="+13"/>
        <source>50%</source>
        <translation>50%</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>水印样式</source>
        <translation>Style</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>我是水印样式Demo</source>
        <translation>Watermark sample</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>颜色设置</source>
        <translation>Colour</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>字体设置</source>
        <translation>Font</translation>
    </message>
    <message>
        <location line="+14"/>
        <source>默认设置</source>
        <translation>Reset</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>视频设置</source>
        <translation>Video</translation>
    </message>
    <message>
        <location line="+13"/>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <location filename="../settings/settingdialog.cpp" line="+205"/>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>设置没有保存：无法写入 %1。</source>
        <translation>The settings were not saved: cannot write %1.</translation>
    </message>
</context>
<context>
    <name>Startup</name>
    <message>
        <location filename="../mainwindow/startup.cpp" line="-30"/>
        <source>警告</source>
        <translation>Warning</translation>
    </message>
    <message>
        <location line="+1"/>
        <source>未检测到设备，请检查设备是否已经连接！</source>
        <translation>No camera found. Please check that the camera is connected.</translation>
    </message>
</context>
<context>
    <name>VideoRecorder</name>
    <message>
        <location filename="../recording/videorecorder.cpp" line="+99"/>
        <source>录像已经开始。</source>
        <translation>Recording has already started.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>没有可录制的画面。</source>
        <translation>There is no picture to record.</translation>
    </message>
    <message>
        <location line="+5"/>
        <source>无法创建工作目录：%1</source>
        <translation>Cannot create the work folder: %1</translation>
    </message>
    <message>
        <location line="+170"/>
        <source>
没有保存下录像。</source>
        <translation>
No video was saved.</translation>
    </message>
    <message>
        <location line="+0"/>
        <source>
已保存的录像：
%1</source>
        <translation>
Videos saved:
%1</translation>
    </message>
    <message>
        <location line="+2"/>
        <source>
未完成的录像保留为 %1</source>
        <translation>
The unfinished video is kept as %1</translation>
    </message>
    <message>
        <location line="+40"/>
        <source>录像画面的格式无法写入，录像已停止。</source>
        <translation>The picture format cannot be recorded; recording stopped.</translation>
    </message>
    <message>
        <location line="+4"/>
        <source>录像画面无法编码，录像已停止：%1</source>
        <translation>A picture cannot be encoded; recording stopped: %1</translation>
    </message>
    <message>
        <location line="+26"/>
        <source>磁盘空间不足，录像已停止。</source>
        <translation>The disk is full; recording stopped.</translation>
    </message>
    <message>
        <location line="+9"/>
        <location line="+85"/>
        <source>磁盘空间不足，录像已停止。
%1</source>
        <translation>The disk is full; recording stopped.
%1</translation>
    </message>
    <message>
        <location line="-84"/>
        <location line="+85"/>
        <source>录像写入失败，录像已停止。
%1</source>
        <translation>Writing the video failed; recording stopped.
%1</translation>
    </message>
    <message>
        <location line="-32"/>
        <source>无法创建录像文件：%1</source>
        <translation>Cannot create the video file: %1</translation>
    </message>
    <message>
        <location line="+8"/>
        <source>无法创建录像文件 %1
%2</source>
        <translation>Cannot create the video file %1
%2</translation>
    </message>
    <message>
        <location line="+58"/>
        <source>录像文件无法改名，录像已停止。</source>
        <translation>The video file cannot be renamed; recording stopped.</translation>
    </message>
    <message>
        <location line="-102"/>
        <source>磁盘写入太慢，跟不上录像，录像已停止。请录制到更快的磁盘。</source>
        <translation>The disk is too slow to keep up with the recording; recording stopped. Please record to a faster disk.</translation>
    </message>
    <message>
        <location line="+92"/>
        <source>录像文件无法改名，录像已停止。
%1</source>
        <translation>The video file cannot be renamed; recording stopped.
%1</translation>
    </message>
</context>
</TS>
