# Loaded into the base Ruby that runs Ruby 2.0's installer in a cross build:
# the RubyGems and fileutils the installer loads from the build call untaint,
# which Ruby 3.2 removed along with the rest of tainting. Without tainting
# there is nothing for these to do.
class Object
  unless method_defined?(:untaint)
    def untaint
      self
    end

    def taint
      self
    end

    def tainted?
      false
    end
  end
end
