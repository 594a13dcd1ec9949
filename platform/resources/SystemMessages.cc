#include "platform/resources/SystemMessages.h"

#include <algorithm>

#include "platform/base/Errors.h"
#include "platform/base/Result.h"

namespace tessaline {
namespace {

struct SystemText {
  DWORD code;  // a Windows error number, or a result code of another facility
  std::u16string_view english;
  std::u16string_view chinese;
};

constexpr DWORD Code(HRESULT hr) { return ResultBits(hr); }

constexpr SystemText kTexts[] = {
    // Windows error numbers (also reached as 0x8007xxxx).
    {ERROR_SUCCESS, u"The operation succeeded.\r\n", u"操作成功完成。\r\n"},
    {ERROR_INVALID_FUNCTION, u"The function is not valid for this object.\r\n", u"此函数对该对象无效。\r\n"},
    {ERROR_FILE_NOT_FOUND, u"The specified file or key does not exist.\r\n", u"指定的文件或项不存在。\r\n"},
    {ERROR_PATH_NOT_FOUND, u"The specified path does not exist.\r\n", u"指定的路径不存在。\r\n"},
    {4, u"Too many files are open.\r\n", u"打开的文件过多。\r\n"},
    {ERROR_ACCESS_DENIED, u"Access is not permitted.\r\n", u"没有访问权限。\r\n"},
    {ERROR_INVALID_HANDLE, u"The handle is not valid.\r\n", u"句柄无效。\r\n"},
    {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory to complete the operation.\r\n", u"内存不足，无法完成操作。\r\n"},
    {ERROR_INVALID_DATA, u"The data is not valid.\r\n", u"数据无效。\r\n"},
    {ERROR_OUTOFMEMORY, u"Out of memory.\r\n", u"内存不足。\r\n"},
    {ERROR_WRITE_FAULT, u"Writing to the device failed.\r\n", u"写入设备失败。\r\n"},
    {ERROR_READ_FAULT, u"Reading from the device failed.\r\n", u"读取设备失败。\r\n"},
    {32, u"The file is in use by another process.\r\n", u"文件正被另一进程使用。\r\n"},
    {38, u"The end of the file was reached.\r\n", u"已到达文件末尾。\r\n"},
    {ERROR_NOT_SUPPORTED, u"The request is not supported.\r\n", u"不支持该请求。\r\n"},
    {ERROR_FILE_EXISTS, u"The file already exists.\r\n", u"文件已存在。\r\n"},
    {ERROR_INVALID_PARAMETER, u"A parameter is not valid.\r\n", u"参数无效。\r\n"},
    {112, u"There is not enough space on the disk.\r\n", u"磁盘空间不足。\r\n"},
    {ERROR_INSUFFICIENT_BUFFER, u"The buffer is too small for the data.\r\n", u"缓冲区太小，无法容纳数据。\r\n"},
    {ERROR_INVALID_NAME, u"The name is not valid.\r\n", u"名称无效。\r\n"},
    {ERROR_MOD_NOT_FOUND, u"The module was not found.\r\n", u"找不到模块。\r\n"},
    {ERROR_BAD_PATHNAME, u"The path name is not valid.\r\n", u"路径名无效。\r\n"},
    {170, u"The resource is busy.\r\n", u"资源正忙。\r\n"},
    {ERROR_ALREADY_EXISTS, u"The object already exists.\r\n", u"对象已存在。\r\n"},
    {ERROR_MORE_DATA, u"More data is available.\r\n", u"还有更多数据。\r\n"},
    {ERROR_NO_MORE_ITEMS, u"There are no more items.\r\n", u"没有更多项。\r\n"},
    {ERROR_MR_MID_NOT_FOUND, u"No message text exists for this code.\r\n", u"此代码没有消息文本。\r\n"},
    {998, u"A memory location was accessed improperly.\r\n", u"内存位置访问无效。\r\n"},
    {1004, u"The flags are not valid.\r\n", u"标志无效。\r\n"},
    {ERROR_BADDB, u"The registry database is corrupt.\r\n", u"注册表数据库已损坏。\r\n"},
    {ERROR_BADKEY, u"The registry key is not valid.\r\n", u"注册表项无效。\r\n"},
    {ERROR_CANTOPEN, u"The registry key could not be opened.\r\n", u"无法打开注册表项。\r\n"},
    {ERROR_CANTREAD, u"The registry key could not be read.\r\n", u"无法读取注册表项。\r\n"},
    {ERROR_CANTWRITE, u"The registry key could not be written.\r\n", u"无法写入注册表项。\r\n"},
    {ERROR_KEY_DELETED, u"The registry key has been marked for deletion.\r\n", u"注册表项已被标记为删除。\r\n"},
    {ERROR_NO_UNICODE_TRANSLATION, u"The text has no mapping in the target character set.\r\n",
     u"文本在目标字符集中没有对应的字符。\r\n"},
    {1168, u"The element was not found.\r\n", u"找不到元素。\r\n"},
    {1223, u"The operation was canceled by the user.\r\n", u"用户取消了操作。\r\n"},
    {ERROR_INTERNAL_ERROR, u"An internal error occurred.\r\n", u"发生内部错误。\r\n"},
    {ERROR_RESOURCE_DATA_NOT_FOUND, u"The resource data was not found.\r\n", u"找不到资源数据。\r\n"},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, u"The resource type was not found.\r\n", u"找不到资源类型。\r\n"},
    {ERROR_RESOURCE_NAME_NOT_FOUND, u"The resource name was not found.\r\n", u"找不到资源名称。\r\n"},
    {ERROR_RESOURCE_LANG_NOT_FOUND, u"No resource exists for this language.\r\n", u"找不到该语言的资源。\r\n"},

    // Generic result codes.
    {Code(E_NOTIMPL), u"The function is not implemented.\r\n", u"此功能未实现。\r\n"},
    {0x80004002, u"The interface is not supported.\r\n", u"不支持此接口。\r\n"},
    {Code(E_POINTER), u"A required pointer is missing.\r\n", u"缺少必需的指针。\r\n"},
    {0x80004004, u"The operation was aborted.\r\n", u"操作已中止。\r\n"},
    {Code(E_FAIL), u"The operation failed.\r\n", u"操作失败。\r\n"},
    {0x8000FFFF, u"An unexpected failure occurred.\r\n", u"发生意外故障。\r\n"},

    // Cryptographic provider failures.
    {Code(NTE_BAD_UID), u"The provider handle is not valid.\r\n", u"提供程序句柄无效。\r\n"},
    {Code(NTE_BAD_HASH), u"The hash object is not valid.\r\n", u"哈希对象无效。\r\n"},
    {Code(NTE_BAD_KEY), u"The key is not valid.\r\n", u"密钥无效。\r\n"},
    {Code(NTE_BAD_LEN), u"The length is not valid.\r\n", u"长度无效。\r\n"},
    {Code(NTE_BAD_DATA), u"The data is not valid for this cryptographic operation.\r\n", u"数据不适用于此加密操作。\r\n"},
    {Code(NTE_BAD_SIGNATURE), u"The signature does not verify.\r\n", u"签名验证失败。\r\n"},
    {Code(NTE_BAD_VER), u"The provider version is wrong.\r\n", u"提供程序版本错误。\r\n"},
    {Code(NTE_BAD_ALGID), u"The algorithm is not valid for this use.\r\n", u"算法不适用于此用途。\r\n"},
    {Code(NTE_BAD_FLAGS), u"The flags are not valid for this call.\r\n", u"此调用的标志无效。\r\n"},
    {Code(NTE_BAD_TYPE), u"The type is not valid.\r\n", u"类型无效。\r\n"},
    {Code(NTE_BAD_KEY_STATE), u"The key cannot be used in its present state.\r\n", u"密钥在当前状态下不可用。\r\n"},
    {Code(NTE_BAD_HASH_STATE), u"The hash cannot be used in its present state.\r\n", u"哈希在当前状态下不可用。\r\n"},
    {Code(NTE_NO_KEY), u"The key does not exist.\r\n", u"密钥不存在。\r\n"},
    {Code(NTE_NO_MEMORY), u"The provider ran out of memory.\r\n", u"提供程序内存不足。\r\n"},
    {Code(NTE_EXISTS), u"The key container already exists.\r\n", u"密钥容器已存在。\r\n"},
    {Code(NTE_PERM), u"The operation is not permitted for this key.\r\n", u"不允许对此密钥执行该操作。\r\n"},
    {Code(NTE_NOT_FOUND), u"The object was not found.\r\n", u"找不到对象。\r\n"},
    {Code(NTE_BAD_PROVIDER), u"The provider name is not valid.\r\n", u"提供程序名称无效。\r\n"},
    {Code(NTE_BAD_PROV_TYPE), u"The provider type is not valid.\r\n", u"提供程序类型无效。\r\n"},
    {0x80090015, u"The public key is not valid.\r\n", u"公钥无效。\r\n"},
    {Code(NTE_BAD_KEYSET), u"The key container does not exist.\r\n", u"密钥容器不存在。\r\n"},
    {Code(NTE_PROV_TYPE_NOT_DEF), u"The provider type is not registered.\r\n", u"提供程序类型未注册。\r\n"},
    {Code(NTE_KEYSET_NOT_DEF), u"The key container is not defined.\r\n", u"密钥容器未定义。\r\n"},
    {Code(NTE_BAD_KEYSET_PARAM), u"The key container parameter is not valid.\r\n", u"密钥容器参数无效。\r\n"},
    {Code(NTE_FAIL), u"The provider failed internally.\r\n", u"提供程序内部失败。\r\n"},
    {0x80090028, u"The buffer is too small.\r\n", u"缓冲区太小。\r\n"},
    {0x80090029, u"The operation is not supported.\r\n", u"不支持该操作。\r\n"},
    {Code(NTE_INTERNAL_ERROR), u"An internal cryptographic error occurred.\r\n", u"发生内部加密错误。\r\n"},

    // Certificate function failures.
    {Code(CRYPT_E_MSG_ERROR), u"The cryptographic message could not be processed.\r\n", u"无法处理加密消息。\r\n"},
    {Code(CRYPT_E_UNEXPECTED_ENCODING), u"The encoded data is not of the expected kind.\r\n",
     u"编码数据的类型与预期不符。\r\n"},
    {0x80092002, u"The encoded data is not valid.\r\n", u"编码数据无效。\r\n"},
    {Code(CRYPT_E_NOT_FOUND), u"The object or property was not found.\r\n", u"找不到对象或属性。\r\n"},
    {Code(CRYPT_E_EXISTS), u"The certificate is already in the store.\r\n", u"证书已在存储区中。\r\n"},
    {Code(CRYPT_E_NO_KEY_PROPERTY), u"The certificate has no private key property.\r\n", u"证书没有私钥属性。\r\n"},
    {Code(CRYPT_E_ASN1_ERROR), u"The ASN.1 data could not be processed.\r\n", u"无法处理 ASN.1 数据。\r\n"},
    {Code(CRYPT_E_ASN1_EOD), u"The ASN.1 data ended unexpectedly.\r\n", u"ASN.1 数据意外结束。\r\n"},
    {Code(CRYPT_E_ASN1_CORRUPT), u"The ASN.1 data is corrupt.\r\n", u"ASN.1 数据已损坏。\r\n"},
    {Code(CRYPT_E_ASN1_BADTAG), u"The ASN.1 tag is not valid.\r\n", u"ASN.1 标记无效。\r\n"},
};

// A Windows error as a result code (0x8007xxxx) has the text of its error
// number.
DWORD TableKey(DWORD code) { return (code & 0xFFFF0000u) == 0x80070000u ? (code & 0xFFFFu) : code; }

}  // namespace

std::optional<std::u16string_view> SystemMessageText(DWORD code, LANGID language) {
  const DWORD key = TableKey(code);
  const auto* row = std::find_if(std::begin(kTexts), std::end(kTexts), [&](const SystemText& t) { return t.code == key; });
  if (row == std::end(kTexts)) return std::nullopt;
  if (language == LANG_CHINESE_SIMPLIFIED) return row->chinese;
  if (language == LANG_ENGLISH_US) return row->english;
  return std::nullopt;
}

}  // namespace tessaline

DWORD FormatMessageW(DWORD flags, const void*, DWORD message_id, DWORD language, LPWSTR buffer, DWORD size,
                     va_list*) {
  constexpr DWORD kSupported = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  buffer[0] = 0;
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & ~kSupported) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (language == 0 || language == 0x400 || language == 0x800) language = GetThreadUILanguage();
  if (language != LANG_ENGLISH_US && language != LANG_CHINESE_SIMPLIFIED) {
    SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
    return 0;
  }
  const std::optional<std::u16string_view> text =
      tessaline::SystemMessageText(message_id, static_cast<LANGID>(language));
  if (!text) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }
  if (text->size() >= size) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::copy(text->begin(), text->end(), buffer);
  buffer[text->size()] = 0;
  return static_cast<DWORD>(text->size());
}
