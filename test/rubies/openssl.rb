# A stand-in for the openssl library in the Ruby 2.0 interpreters the test
# lanes build. Ruby 2.0's openssl extension needs OpenSSL 1.0 or older, which
# today's systems no longer have, and RubyGems 2.0 will not install even an
# unsigned local gem without OpenSSL::Digest: it checksums every file of the
# package with it. This gives exactly that, on top of Ruby's own digest
# library, and nothing else: no ciphers, keys, certificates or TLS (the key
# class is named, and has nothing in it).
require "digest"

module OpenSSL
  # A message digest by name, as OpenSSL::Digest.new("SHA256") makes one.
  class Digest
    ALGORITHMS = {
      "SHA1" => ::Digest::SHA1,
      "SHA256" => ::Digest::SHA256,
      "SHA512" => ::Digest::SHA512,
    }.freeze

    attr_reader :name

    def initialize(name, data = nil)
      @name = name.to_s.upcase
      algorithm = ALGORITHMS.fetch(@name) { raise RuntimeError, "Unsupported digest algorithm (#{name})" }
      @digest = algorithm.new
      update(data) if data
    end

    def update(data)
      @digest.update(data)
      self
    end
    alias << update

    def reset
      @digest.reset
      self
    end

    # A fresh digest of the same algorithm, as RubyGems makes one for each
    # file of a package it builds.
    def new
      Digest.new(name)
    end

    def digest(data = nil)
      data ? Digest.new(name, data).digest : @digest.digest
    end

    def hexdigest(data = nil)
      data ? Digest.new(name, data).hexdigest : @digest.hexdigest
    end

    def digest_length
      @digest.digest_length
    end

    def self.digest(name, data)
      new(name, data).digest
    end

    def self.hexdigest(name, data)
      new(name, data).hexdigest
    end

    # OpenSSL::Digest::SHA256 and its kin: the same, with the name built in.
    ALGORITHMS.each_key do |algorithm|
      named = Class.new(self) do
        define_method(:initialize) { |data = nil| super(algorithm, data) }
        define_singleton_method(:digest) { |data| new(data).digest }
        define_singleton_method(:hexdigest) { |data| new(data).hexdigest }
      end
      const_set(algorithm, named)
    end
  end

  # Named by RubyGems' signing code at load, which needs only the name: no
  # key can be made or read here.
  module PKey
    class RSA
    end
  end
end
